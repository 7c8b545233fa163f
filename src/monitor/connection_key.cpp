#include "monitor/connection_key.h"

namespace tarnwick {

TConnectionKey KeyOfTcpRow(const TTcpRow& row) {
    return TConnectionKey{true, row.LocalAddr, PortFromField(row.LocalPort), row.RemoteAddr,
                          PortFromField(row.RemotePort)};
}

TConnectionKey KeyOfUdpRow(const TUdpRow& row) {
    return TConnectionKey{false, row.LocalAddr, PortFromField(row.LocalPort), 0, 0};
}

}  // namespace tarnwick

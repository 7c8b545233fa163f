#include "monitor/connection_key.h"

namespace tarnwick {

bool TConnectionKey::Matches(const TConnectionKey& wanted) const {
    if (Tcp != wanted.Tcp || V6 != wanted.V6 || LocalPort != wanted.LocalPort) return false;
    if (Tcp && (RemotePort != wanted.RemotePort)) return false;
    if (V6) return (wanted.AnyLocal6 || (LocalAddr6 == wanted.LocalAddr6 && Interface == wanted.Interface)) &&
                   (!Tcp || RemoteAddr6 == wanted.RemoteAddr6);
    if (Tcp && RemoteAddr != wanted.RemoteAddr) return false;
    return !wanted.LocalAddr || LocalAddr == wanted.LocalAddr;
}

TConnectionKey KeyOfTcpRow(const TTcpRow& row) {
    TConnectionKey key{true, row.LocalAddr, PortFromField(row.LocalPort), row.RemoteAddr,
                       PortFromField(row.RemotePort)};
    if (row.V6) {
        key.LocalAddr.reset();
        key.V6 = true;
        key.LocalAddr6 = row.LocalAddr6;
        key.RemoteAddr6 = row.RemoteAddr6;
        key.Interface = row.Interface;
    }
    return key;
}

TConnectionKey KeyOfUdpRow(const TUdpRow& row) {
    TConnectionKey key{false, row.LocalAddr, PortFromField(row.LocalPort), 0, 0};
    if (row.V6) {
        key.LocalAddr.reset();
        key.V6 = true;
        key.LocalAddr6 = row.LocalAddr6;
        key.Interface = row.Interface;
    }
    return key;
}

}  // namespace tarnwick

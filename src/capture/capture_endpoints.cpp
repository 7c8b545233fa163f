#include "capture/capture_endpoints.h"

#include "common/text_util.h"
#include "platform/ip_tables.h"

namespace tarnwick {

TCaptureEndpoints CaptureEndpointsOf(const TFoundConnection& found) {
    TCaptureEndpoints endpoints;
    if (!found.Tcp) {
        const TUdpRow& row = found.UdpRow;
        endpoints.Protocol = "UDP";
        endpoints.V6 = row.V6();
        if (row.V6())
            endpoints.Addr1V6 = row.LocalAddr.Bytes();
        else
            endpoints.Addr1 = SwapIPBytes(row.LocalAddr.Ipv4Field());
        endpoints.Port1 = row.LocalPort;
        return endpoints;
    }
    const TTcpRow& row = found.TcpRow;
    endpoints.Protocol = "TCP";
    endpoints.V6 = row.V6();
    if (row.V6()) {
        endpoints.Addr1V6 = row.RemoteAddr.Bytes();
        endpoints.Addr2V6 = row.LocalAddr.Bytes();
    } else {
        endpoints.Addr1 = SwapIPBytes(row.RemoteAddr.Ipv4Field());
        endpoints.Addr2 = SwapIPBytes(row.LocalAddr.Ipv4Field());
    }
    endpoints.Port1 = row.RemotePort;
    endpoints.Port2 = row.LocalPort;
    return endpoints;
}

}  // namespace tarnwick

#include "capture/capture_endpoints.h"

#include "common/text_util.h"
#include "platform/ip_tables.h"

namespace tarnwick {

TCaptureEndpoints CaptureEndpointsOf(const TFoundConnection& found) {
    TCaptureEndpoints endpoints;
    if (!found.Tcp) {
        const TUdpRow& row = found.UdpRow;
        endpoints.Protocol = "UDP";
        endpoints.V6 = row.V6;
        if (row.V6)
            endpoints.Addr1V6 = row.LocalAddr6;
        else
            endpoints.Addr1 = SwapIPBytes(row.LocalAddr);
        endpoints.Port1 = PortFromField(row.LocalPort);
        return endpoints;
    }
    const TTcpRow& row = found.TcpRow;
    endpoints.Protocol = "TCP";
    endpoints.V6 = row.V6;
    if (row.V6) {
        endpoints.Addr1V6 = row.RemoteAddr6;
        endpoints.Addr2V6 = row.LocalAddr6;
    } else {
        endpoints.Addr1 = SwapIPBytes(row.RemoteAddr);
        endpoints.Addr2 = SwapIPBytes(row.LocalAddr);
    }
    endpoints.Port1 = PortFromField(row.RemotePort);
    endpoints.Port2 = PortFromField(row.LocalPort);
    return endpoints;
}

}  // namespace tarnwick

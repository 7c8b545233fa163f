#include "capture/capture_endpoints.h"

#include "common/text_util.h"
#include "platform/ip_tables.h"

namespace tarnwick {

TCaptureEndpoints CaptureEndpointsOf(const TFoundConnection& found) {
    TCaptureEndpoints endpoints;
    if (!found.Tcp) {
        endpoints.Protocol = "UDP";
        endpoints.Addr1 = SwapIPBytes(found.UdpRow.LocalAddr);
        endpoints.Port1 = PortFromField(found.UdpRow.LocalPort);
        return endpoints;
    }
    endpoints.Protocol = "TCP";
    endpoints.Addr1 = SwapIPBytes(found.TcpRow.RemoteAddr);
    endpoints.Port1 = PortFromField(found.TcpRow.RemotePort);
    endpoints.Addr2 = SwapIPBytes(found.TcpRow.LocalAddr);
    endpoints.Port2 = PortFromField(found.TcpRow.LocalPort);
    return endpoints;
}

}  // namespace tarnwick

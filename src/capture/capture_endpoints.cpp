#include "capture/capture_endpoints.h"

#include "common/text_util.h"
#include "platform/ip_tables.h"

namespace tarnwick {

TCaptureEndpoints CaptureEndpointsOf(const ConnectionSnapshot& snapshot, const TSnapshotRowRef& row) {
    TCaptureEndpoints endpoints;
    if (!row.Tcp) {
        const TUdpRow udp = snapshot.UdpRow(row.Index);
        endpoints.Protocol = "UDP";
        endpoints.Addr1 = SwapIPBytes(udp.LocalAddr);
        endpoints.Port1 = PortFromField(udp.LocalPort);
        return endpoints;
    }
    const TTcpRow tcp = snapshot.TcpRow(row.Index);
    endpoints.Protocol = "TCP";
    endpoints.Addr1 = SwapIPBytes(tcp.RemoteAddr);
    endpoints.Port1 = PortFromField(tcp.RemotePort);
    endpoints.Addr2 = SwapIPBytes(tcp.LocalAddr);
    endpoints.Port2 = PortFromField(tcp.LocalPort);
    return endpoints;
}

}  // namespace tarnwick

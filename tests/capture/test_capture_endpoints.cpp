// The capture filter of a row of the connection list.
#include "capture/capture_endpoints.h"

#include <gtest/gtest.h>

#include "platform/ip_tables.h"

namespace tarnwick::testing {
namespace {

TEST(CaptureEndpoints, TcpRowsCaptureRemoteToLocalAndUdpRowsTheirLocalEnd) {
    const TTcpRow tcpRow{5, AddrField(192, 168, 1, 7), PortField(51000), AddrField(93, 184, 216, 34), PortField(443), 0};
    const TUdpRow udpRow{AddrField(127, 0, 0, 53), PortField(53), 0};

    const TCaptureEndpoints tcp = CaptureEndpointsOf(TFoundConnection{true, 0, tcpRow, {}});
    EXPECT_EQ(tcp.Protocol, "TCP");
    EXPECT_EQ(tcp.Addr1, 0x5DB8D822u);  // 93.184.216.34
    EXPECT_EQ(tcp.Port1, 443);
    EXPECT_EQ(tcp.Addr2, 0xC0A80107u);  // 192.168.1.7
    EXPECT_EQ(tcp.Port2, 51000);

    const TCaptureEndpoints udp = CaptureEndpointsOf(TFoundConnection{false, 0, {}, udpRow});
    EXPECT_EQ(udp.Protocol, "UDP");
    EXPECT_EQ(udp.Addr1, 0x7F000035u);  // 127.0.0.53
    EXPECT_EQ(udp.Port1, 53);
    EXPECT_EQ(udp.Addr2, 0u);
    EXPECT_EQ(udp.Port2, 0);
}

}  // namespace
}  // namespace tarnwick::testing

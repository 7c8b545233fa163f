// The capture filter of a row of the connection list.
#include "capture/capture_endpoints.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace tarnwick::testing {
namespace {

TEST(CaptureEndpoints, TcpRowsCaptureRemoteToLocalAndUdpRowsTheirLocalEnd) {
    const TTcpRow tcpRow = TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 7), 51000, Ipv4(93, 184, 216, 34), 443);
    const TUdpRow udpRow = UdpRow(Ipv4(127, 0, 0, 53), 53);

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

TEST(CaptureEndpoints, Ip6RowsGiveTheirAddressesInTheSameRoles) {
    const TTcpRow tcpRow = Tcp6Row(TTcpState::Established, "2001:db8::7", 51000, "2606:2800:220:1::", 443);
    const TCaptureEndpoints tcp = CaptureEndpointsOf(TFoundConnection{true, 0, tcpRow, {}});
    EXPECT_TRUE(tcp.V6);
    EXPECT_EQ(tcp.Protocol, "TCP");
    EXPECT_EQ(tcp.Addr1V6, tcpRow.RemoteAddr.Bytes());
    EXPECT_EQ(tcp.Port1, 443);
    EXPECT_EQ(tcp.Addr2V6, tcpRow.LocalAddr.Bytes());
    EXPECT_EQ(tcp.Port2, 51000);

    const TUdpRow udpRow = Udp6Row("::1", 5353);
    const TCaptureEndpoints udp = CaptureEndpointsOf(TFoundConnection{false, 0, {}, udpRow});
    EXPECT_TRUE(udp.V6);
    EXPECT_EQ(udp.Protocol, "UDP");
    EXPECT_EQ(udp.Addr1V6, udpRow.LocalAddr.Bytes());
    EXPECT_EQ(udp.Port1, 5353);
    EXPECT_EQ(udp.Addr2V6, TIp6Address{});
    EXPECT_EQ(udp.Port2, 0);
}

}  // namespace
}  // namespace tarnwick::testing

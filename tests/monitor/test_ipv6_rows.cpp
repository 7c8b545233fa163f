// IPv6 sockets beside IPv4 ones: their rows, texts, events and identities.
#include <gtest/gtest.h>

#include "monitor/grid_row_mapping.h"
#include "monitor/refresh_fixture.h"
#include "monitor/selected_connection.h"

namespace tarnwick::testing {
namespace {

class Ipv6Rows : public RefreshFixture {
protected:
    Ipv6Rows() {
        Names.Computer = "PC1";
        Tables.TcpRows = {TcpRow(TTcpState::Established, Ipv4(127, 0, 0, 1), 40000, Ipv4(127, 0, 0, 1), 443, 1)};
        Tables.Tcp6Rows = {Tcp6Row(TTcpState::Listening, "::", 8080, "::", 0, 1),
                           Tcp6Row(TTcpState::Established, "2001:db8::2", 40001, "2001:DB8:0:0::1", 443, 1)};
        Tables.UdpRows = {UdpRow({}, 53, 1)};
        Tables.Udp6Rows = {Udp6Row("::1", 5353, 1)};
        Processes.Entries = {{1, "app"}};
    }
};

TEST_F(Ipv6Rows, FollowTheIpv4RowsOfTheirProtocolWithTheirOwnTextsAndEvents) {
    const auto logs = Refresh();
    ASSERT_EQ(Outlets.Grid.RowCount(), 1 + 3 + 2);
    EXPECT_EQ(Outlets.Grid.Row(1).Protocol, "TCP");
    const TConnectionRow& listener = Outlets.Grid.Row(2);
    EXPECT_EQ(listener.Protocol, "TCPv6");
    EXPECT_EQ(listener.RemoteAddr, "pc1");  // a wildcard listener names this computer
    EXPECT_EQ(listener.RemotePort, "0");
    const TConnectionRow& connection = Outlets.Grid.Row(3);
    EXPECT_EQ(connection.RemoteAddr, "2001:db8::1");  // RFC 5952 form, never split at its colons
    EXPECT_EQ(connection.LocalPort, "40001");
    EXPECT_EQ(Outlets.Grid.Row(4).Protocol, "UDP");
    EXPECT_EQ(Outlets.Grid.Row(5).Protocol, "UDPv6");
    EXPECT_EQ(Outlets.Grid.Row(5).LocalPort, "5353");

    const auto connected = std::find(logs.begin(), logs.end(), "2|app Connected to 2001:db8::1 On Port:443");
    ASSERT_NE(connected, logs.end());
    const auto& record = Outlets.LogConnections.at(static_cast<size_t>(connected - logs.begin()));
    EXPECT_EQ(record->Protocol, "TCPv6");
    EXPECT_EQ(record->LocalAddress, "2001:db8::2");
    EXPECT_NE(std::find(Outlets.Calls.begin(), Outlets.Calls.end(), "rules 2 2001:db8::1 40001 443"),
              Outlets.Calls.end());

    Tables.Tcp6Rows.pop_back();
    EXPECT_EQ(Refresh(), std::vector<std::string>{"3|app DisConnected to 2001:db8::1 On Port:443"});
}

// The same link-local ends reached through two interfaces are two
// connections, each written with its zone.
TEST_F(Ipv6Rows, LinkLocalAddressesCarryTheirZoneAndStayApartPerInterface) {
    Tables.Tcp6Rows = {Tcp6Row(TTcpState::Established, "fe80::2", 40001, "fe80::1", 22, 1), Tcp6Row(TTcpState::Established, "fe80::2", 40001, "fe80::1", 22, 1)};
    Tables.Tcp6Rows[0].Interface = 1;
    Tables.Tcp6Rows[1].Interface = 2;
    const auto logs = Refresh();
    EXPECT_EQ(Outlets.Grid.Row(2).RemoteAddr, "fe80::1%1");
    EXPECT_EQ(Outlets.Grid.Row(3).RemoteAddr, "fe80::1%2");
    const auto connected = std::find(logs.begin(), logs.end(), "2|app Connected to fe80::1%2 On Port:22");
    ASSERT_NE(connected, logs.end());
    EXPECT_EQ(Outlets.LogConnections.at(static_cast<size_t>(connected - logs.begin()))->LocalAddress, "fe80::2%2");

    const TConnectionKey wanted{true, std::nullopt, 40001, TInetAddress::Ipv6(ParseIp6("fe80::1").value()), 22, 2};
    EXPECT_EQ(Snapshot.FindConnection(wanted)->TcpRow.Interface, 2u);
}

TEST_F(Ipv6Rows, ResolvedNamesShowAndAnIpv6ConnectionNeverTakesAnIpv4OnesIdentity) {
    Names.Hosts6[ParseIp6("2001:db8::1").value()] = "example.test";
    // An IPv4 connection with the very same texts but its own family.
    Names.Hosts[Ipv4(127, 0, 0, 1).Ipv4Field()] = "example.test";
    Tables.TcpRows[0].LocalPort = 40001;
    const auto logs = Refresh();
    EXPECT_EQ(Outlets.Grid.Row(3).RemoteAddr, "example.test");
    EXPECT_EQ(std::count_if(logs.begin(), logs.end(),
                            [](const std::string& l) { return l.find("Connected to example.test") != std::string::npos; }),
              2);
}

TEST_F(Ipv6Rows, HiddenIpv6RowsLeaveTheGridButNotTheEvents) {
    View.ShowIpv6 = false;
    const auto logs = Refresh();
    ASSERT_EQ(Outlets.Grid.RowCount(), 1 + 1 + 1);
    EXPECT_EQ(Outlets.Grid.Row(2).Protocol, "UDP");
    EXPECT_EQ(SnapshotRowOfGridRow(2, true, true, Snapshot, false), (TSnapshotRowRef{false, 0}));
    EXPECT_EQ(SnapshotRowOfGridRow(3, true, true, Snapshot, false), std::nullopt);
    EXPECT_EQ(logs.size(), 2u);  // both established connections, whatever the grid shows
}

TEST_F(Ipv6Rows, ARowOfEitherFamilyIsFoundByItsIdentity) {
    Refresh();
    const TConnectionRow shown = Outlets.Grid.Row(3);
    Tables.Tcp6Rows.insert(Tables.Tcp6Rows.begin(), Tcp6Row(TTcpState::Established, "2001:db8::2", 1000, "2001:db8::9", 22, 1));
    Refresh();
    const auto found = FindShownConnection(Snapshot, &shown);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Index, 3u);
    EXPECT_TRUE(found->TcpRow.V6());
    EXPECT_EQ(found->TcpRow.LocalPort, 40001);
}

}  // namespace
}  // namespace tarnwick::testing

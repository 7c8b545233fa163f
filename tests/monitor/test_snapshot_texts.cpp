// Turning raw table rows into texts: endpoints, ports, states, processes.
#include <gtest/gtest.h>

#include <cerrno>

#include "common/text_util.h"
#include "fakes/fake_platform.h"
#include "monitor/connection_row.h"
#include "monitor/port_short_names.h"
#include "monitor/tcp_state_names.h"

namespace tarnwick::testing {
namespace {

class EndpointTextsTest : public ::testing::Test {
protected:
    EndpointTextsTest() { Endpoints.BeginRefresh(); }
    TFakeNameLookup Names;
    TViewSettings View;
    TEndpointTexts Endpoints{Names, View};
};

TEST_F(EndpointTextsTest, LocalEndAndRemoteZeroShowTheComputerName) {
    EXPECT_EQ(Endpoints.GetEndpointText(0, PortField(0), false), "pc1:0");
    Names.Services[80] = {"http", "tcp"};
    EXPECT_EQ(Endpoints.GetEndpointText(AddrField(192, 168, 1, 2), PortField(80), true), "pc1:http(tcp)");
    EXPECT_EQ(Endpoints.GetEndpointText(AddrField(192, 168, 1, 2), PortField(443), true),
              "pc1:HTTPS - Hyper Text Transfer Protocol Secure");
}

TEST_F(EndpointTextsTest, RemoteEndShowsHostWithNumberOrAddressWithPortName) {
    const uint32_t gw = AddrField(192, 168, 1, 1), unresolved = AddrField(10, 0, 0, 5);
    Names.Hosts[gw] = "gw.lan";
    EXPECT_EQ(Endpoints.GetEndpointText(gw, PortField(80), false), "gw.lan:80");
    EXPECT_EQ(Endpoints.GetEndpointText(unresolved, PortField(80), false),
              "10.0.0.5:HTTP - Hyper Text Transfer Protocol");
    View.ShowShortNames = false;
    EXPECT_EQ(Endpoints.GetEndpointText(unresolved, PortField(80), false), "10.0.0.5:80");
    Names.Hosts[gw] = std::string(300, 'h');
    EXPECT_EQ(Endpoints.GetEndpointText(gw, PortField(80), false), std::string(255, 'h') + ":80");
}

TEST_F(EndpointTextsTest, ComputerNameIsLowerCasedInAsciiOnlyAndCutAtNul) {
    Names.Computer = "MY-PC\xC3\x84";
    Endpoints.BeginRefresh();
    EXPECT_EQ(Endpoints.GetEndpointText(0, PortField(7000), true), "my-pc\xC3\x84:7000");
    Names.Computer = std::string("BOX\0junk", 8);
    EXPECT_EQ(GetLocalComputerName(Names), "box");
}

TEST(PortShortNamesTest, TableLookups) {
    EXPECT_EQ(GetPortName(54321, true), "Back Orifice 2000");
    EXPECT_EQ(GetPortName(31337, true), "Back Orifice 2000 Russian");
    EXPECT_EQ(GetPortName(25, true), "SMTP - Simple Mail Transfer Protocol ");
    EXPECT_EQ(GetPortName(8080, true), "8080");
    EXPECT_EQ(GetPortName(54321, false), "54321");
    EXPECT_EQ(PortShortNames[53].Port, 42424);  // the table keeps its unsorted order
}

TEST(TcpStateNamesTest, NumberedFromOneWithoutShift) {
    EXPECT_EQ(TcpStateName(5), "Established");
    EXPECT_EQ(TcpStateName(2), "Listening");
    EXPECT_EQ(TcpStateName(12), "Delete_Tcb");
    EXPECT_EQ(TcpStateName(0), "Unknown");
    EXPECT_EQ(TcpStateName(13), "Unknown");
}

TEST(ProcessSnapshotTest, UnreadableUnknownAndRepeatedIds) {
    EXPECT_EQ(TProcessSnapshot(TFailure{EACCES, "listing the processes"}).GetProcessName(1), "?");
    TProcessSnapshot processes(std::vector<TProcessEntry>{{1, "init"}, {7, "old"}, {7, "new"}});
    EXPECT_EQ(processes.GetProcessName(1), "init");
    EXPECT_EQ(processes.GetProcessName(7), "new");
    EXPECT_EQ(processes.GetProcessName(8), "");
}

TEST(RowTextsTest, UdpRowShowsServiceOfAnyProtocol) {
    TFakeIpTables tables;
    TFakeProcessList processes;
    processes.Entries = {{42, "named"}};
    tables.UdpRows = {UdpRow(0, 53, 42)};
    TFakeNameLookup names;
    names.Services[53] = {"domain", "tcp"};
    TViewSettings view;
    TEndpointTexts endpoints(names, view);
    endpoints.BeginRefresh();
    ConnectionSnapshot snapshot(true);
    ASSERT_TRUE(snapshot.FetchTables(tables, processes));
    EXPECT_EQ(BuildUdpRowTexts(snapshot, 0, endpoints), 
              (TConnectionRow{"*", "*", "domain(tcp)", "UDP", "-", "named", TConnectionKey{false, 0u, 53, 0, 0}}));
}

TEST(TableLayoutTest, ShortTablesYieldOnlyCompleteRows) {
    auto table = EncodeTcpTable({TcpRow(5, 1, 2, 3, 4, 6), TcpRow(2, 1, 2, 0, 0, 7)}, true);
    EXPECT_EQ(TableRowCount(table, kTcpRowExSize), 2u);
    table.resize(table.size() - 1);
    EXPECT_EQ(TableRowCount(table, kTcpRowExSize), 1u);
    EXPECT_EQ(TableRowCount({1, 0}, kTcpRowExSize), 0u);
    EXPECT_EQ(DecodeTcpRow(table, 0, true).OwningPid, 6u);
    EXPECT_EQ(PortFromField(PortField(443)), 443);
    EXPECT_EQ(PortField(443), 0xBB01u);  // low bytes in network order: 0x01 0xBB
}

TEST(TextUtilTest, AddressesAndCase) {
    EXPECT_EQ(DottedText(AddrField(10, 0, 0, 5)), "10.0.0.5");
    EXPECT_EQ(DottedText(AddrField(255, 255, 255, 255)), "255.255.255.255");
    EXPECT_EQ(SwapIPBytes(AddrField(192, 168, 1, 2)), 0xC0A80102u);
    EXPECT_EQ(AsciiLowerCase("Ab-Z\xC4"), "ab-z\xC4");
    EXPECT_EQ(EscapeForLine(std::string("a\tb\\c\x7F\n\xC3\xA4", 9)), "a\\x09b\\x5Cc\\x7F\\x0A\xC3\xA4");
}

}  // namespace
}  // namespace tarnwick::testing

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
    EXPECT_EQ(Endpoints.GetEndpointText({}, 0, false), "pc1:0");
    Names.Services[80] = {"http", "tcp"};
    EXPECT_EQ(Endpoints.GetEndpointText(Ipv4(192, 168, 1, 2), 80, true), "pc1:http(tcp)");
    EXPECT_EQ(Endpoints.GetEndpointText(Ipv4(192, 168, 1, 2), 443, true),
              "pc1:HTTPS - Hyper Text Transfer Protocol Secure");
}

TEST_F(EndpointTextsTest, RemoteEndShowsHostWithNumberOrAddressWithPortName) {
    constexpr TInetAddress gw = Ipv4(192, 168, 1, 1), unresolved = Ipv4(10, 0, 0, 5);
    Names.Hosts[gw.Ipv4Field()] = "gw.lan";
    EXPECT_EQ(Endpoints.GetEndpointText(gw, 80, false), "gw.lan:80");
    EXPECT_EQ(Endpoints.GetEndpointText(unresolved, 80, false),
              "10.0.0.5:HTTP - Hyper Text Transfer Protocol");
    View.ShowShortNames = false;
    EXPECT_EQ(Endpoints.GetEndpointText(unresolved, 80, false), "10.0.0.5:80");
    Names.Hosts[gw.Ipv4Field()] = std::string(300, 'h');
    EXPECT_EQ(Endpoints.GetEndpointText(gw, 80, false), std::string(255, 'h') + ":80");
}

TEST_F(EndpointTextsTest, ComputerNameIsLowerCasedInAsciiOnlyAndCutAtNul) {
    Names.Computer = "MY-PC\xC3\x84";
    Endpoints.BeginRefresh();
    EXPECT_EQ(Endpoints.GetEndpointText({}, 7000, true), "my-pc\xC3\x84:7000");
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
    EXPECT_EQ(TcpStateName(TTcpState::Established), "Established");
    EXPECT_EQ(TcpStateName(TTcpState::Listening), "Listening");
    EXPECT_EQ(TcpStateName(TTcpState::DeleteTcb), "Delete_Tcb");
    EXPECT_EQ(TcpStateName(static_cast<TTcpState>(0)), "Unknown");
    EXPECT_EQ(TcpStateName(static_cast<TTcpState>(13)), "Unknown");
}

TEST(ProcessSnapshotTest, UnreadableUnknownAndRepeatedIds) {
    EXPECT_EQ(TProcessSnapshot(TFailure{EACCES, "listing the processes"}).GetProcessName(1), "?");
    TProcessSnapshot processes(std::vector<TProcessEntry>{{1, "init"}, {7, "old"}, {7, "new"}});
    EXPECT_EQ(processes.GetProcessName(1), "init");
    EXPECT_EQ(processes.GetProcessName(7), "new");
    EXPECT_EQ(processes.GetProcessName(8), "");
}

TEST(RowTextsTest, UdpRowShowsServiceOfAnyProtocol) {
    const TProcessSnapshot processes(std::vector<TProcessEntry>{{42, "named"}});
    TFakeNameLookup names;
    names.Services[53] = {"domain", "tcp"};
    TViewSettings view;
    TEndpointTexts endpoints(names, view);
    endpoints.BeginRefresh();
    EXPECT_EQ(BuildUdpRowTexts(UdpRow({}, 53, 42), &processes, endpoints),
              (TConnectionRow{"*", "*", "domain(tcp)", "UDP", "-", "named", TConnectionKey{false, TInetAddress{}, 53, TInetAddress{}}}));
}

TEST(TextUtilTest, AddressesAndCase) {
    EXPECT_EQ(DottedText(Ipv4(10, 0, 0, 5).Ipv4Field()), "10.0.0.5");
    EXPECT_EQ(DottedText(Ipv4(255, 255, 255, 255).Ipv4Field()), "255.255.255.255");
    EXPECT_EQ(SwapIPBytes(Ipv4(192, 168, 1, 2).Ipv4Field()), 0xC0A80102u);
    EXPECT_EQ(AsciiLowerCase("Ab-Z\xC4"), "ab-z\xC4");
    EXPECT_EQ(EscapeForLine(std::string("a\tb\\c\x7F\n\xC3\xA4", 9)), "a\\x09b\\x5Cc\\x7F\\x0A\xC3\xA4");
}

}  // namespace
}  // namespace tarnwick::testing

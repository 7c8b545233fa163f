// Events of successive refreshes: connects, state changes and disconnects.
#include <gtest/gtest.h>

#include <cerrno>

#include "monitor/refresh_fixture.h"

namespace tarnwick::testing {
namespace {

constexpr TInetAddress kLocal = Ipv4(192, 168, 1, 2);
constexpr TInetAddress kServer = Ipv4(10, 0, 0, 5);

using Events = std::vector<std::string>;

class ChangeDetection : public RefreshFixture {
protected:
    ChangeDetection() {
        Processes.Entries = {{100, "client.exe"}, {200, "server.exe"}};
        View.ShowShortNames = false;
    }
};

TEST_F(ChangeDetection, FirstRefreshReportsEstablishedAndOtherStatesButNotListeners) {
    Tables.TcpRows = {TcpRow(TTcpState::Listening, {}, 80, {}, 0, 200), TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100),
                      TcpRow(TTcpState::TimeWait, kLocal, 50001, kServer, 8080, 100)};
    EXPECT_EQ(Refresh(), (Events{"2|client.exe Connected to 10.0.0.5 On Port:443",
                                 "0|client.exe's Connection Status Changed to Time_Wait,RemoteAddr 10.0.0.5 On Port:8080"}));
    EXPECT_EQ(Outlets.Calls[2], "log 2 client.exe Connected to 10.0.0.5 On Port:443");
    EXPECT_EQ(Outlets.Calls[3], "rules 1 10.0.0.5 50000 443");
    EXPECT_EQ(Connections.Count(), 3u);

    // Nothing changed: nothing to say.
    EXPECT_EQ(Refresh(), Events{});
}

TEST_F(ChangeDetection, EventsCarryTheConnectionTheyAreAbout) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100)};
    Refresh();
    const TLogConnection connected{"TCP", "192.168.1.2", 50000, "10.0.0.5", 443, "Established", 100, "client.exe"};
    ASSERT_EQ(Outlets.LogConnections.size(), 1u);
    EXPECT_EQ(Outlets.LogConnections[0], connected);

    Tables.TcpRows[0].State = TTcpState::TimeWait;
    Tables.TcpRows[0].OwningPid = 0;  // no process holds a Time_Wait socket
    Refresh();
    // The remnant's socket has no owner; the connection's owner stays.
    TLogConnection changed = connected;
    changed.State = "Time_Wait";
    EXPECT_EQ(Outlets.LogConnections.at(0), changed);

    // Gone: its last state, and the owner it had when first seen.
    Tables.TcpRows.clear();
    Refresh();
    TLogConnection gone = connected;
    gone.State = "Time_Wait";
    EXPECT_EQ(Outlets.LogConnections.at(0), gone);
}

TEST_F(ChangeDetection, AConnectionFirstSeenInItsHandshakeIsAnnouncedWhenEstablished) {
    Tables.TcpRows = {TcpRow(TTcpState::SynSent, kLocal, 50000, kServer, 443, 100)};
    EXPECT_EQ(Refresh(), Events{"0|client.exe's Connection Status Changed to Syn_Sent,RemoteAddr 10.0.0.5 On Port:443"});
    Tables.TcpRows[0].State = TTcpState::Established;
    EXPECT_EQ(Refresh(), Events{"2|client.exe Connected to 10.0.0.5 On Port:443"});
    EXPECT_EQ(Outlets.Calls.at(1), "rules 0 10.0.0.5 50000 443");
}

TEST_F(ChangeDetection, ConnectNamesTheHostAndDisconnectTheDottedAddress) {
    Names.Hosts[kServer.Ipv4Field()] = "gw.lan";
    View.ShowShortNames = true;  // the event texts carry the number even where the grid shows a name
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 80, 100)};
    EXPECT_EQ(Refresh(), Events{"2|client.exe Connected to gw.lan On Port:80"});
    Tables.TcpRows.clear();
    EXPECT_EQ(Refresh(), Events{"3|client.exe DisConnected to 10.0.0.5 On Port:80"});
    EXPECT_EQ(Connections.Count(), 0u);
}

TEST_F(ChangeDetection, ShortNameInGridNumberInEvents) {
    View.ShowShortNames = true;
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100)};
    EXPECT_EQ(Refresh(), Events{"2|client.exe Connected to 10.0.0.5 On Port:443"});
    EXPECT_EQ(Outlets.Grid.Row(1).RemotePort, "HTTPS - Hyper Text Transfer Protocol Secure");
}

TEST_F(ChangeDetection, RowsDifferingOnlyInLocalAddressAreOneConnection) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100),
                      TcpRow(TTcpState::TimeWait, Ipv4(127, 0, 0, 1), 50000, kServer, 443, 100)};
    EXPECT_EQ(Refresh(), (Events{"2|client.exe Connected to 10.0.0.5 On Port:443",
                                 "0|client.exe's Connection Status Changed to Time_Wait,RemoteAddr 10.0.0.5 On Port:443"}));
    EXPECT_EQ(Connections.Count(), 1u);
    EXPECT_EQ(Connections.Items(0).Status(), "Time_Wait");
}

TEST_F(ChangeDetection, ClosedAndReopenedConnectionDisconnectsThenConnectsAgain) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100)};
    Refresh();
    const auto row = Tables.TcpRows;
    Tables.TcpRows.clear();
    EXPECT_EQ(Refresh(), Events{"3|client.exe DisConnected to 10.0.0.5 On Port:443"});
    Tables.TcpRows = row;
    EXPECT_EQ(Refresh(), Events{"2|client.exe Connected to 10.0.0.5 On Port:443"});
}

TEST_F(ChangeDetection, DisconnectsComeAfterRowEventsInListOrder) {
    constexpr TInetAddress other = Ipv4(10, 0, 0, 6);
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 1, kServer, 443, 100), TcpRow(TTcpState::Established, kLocal, 2, other, 443, 200)};
    Refresh();
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 3, kServer, 22, 100)};
    EXPECT_EQ(Refresh(), (Events{"2|client.exe Connected to 10.0.0.5 On Port:22",
                                 "3|client.exe DisConnected to 10.0.0.5 On Port:443",
                                 "3|server.exe DisConnected to 10.0.0.6 On Port:443"}));
}

TEST_F(ChangeDetection, ProcessOfAKnownConnectionIsNeverUpdated) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100)};
    Refresh();
    Tables.TcpRows[0].OwningPid = 200;
    Refresh();
    Tables.TcpRows.clear();
    EXPECT_EQ(Refresh(), Events{"3|client.exe DisConnected to 10.0.0.5 On Port:443"});
}

TEST_F(ChangeDetection, UnreadableProcessListDropsTheProcessFromDisconnects) {
    Processes.Readable = false;
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100)};
    EXPECT_EQ(Refresh(), Events{"2|? Connected to 10.0.0.5 On Port:443"});
    Tables.TcpRows.clear();
    EXPECT_EQ(Refresh(), Events{"3|DisConnected to 10.0.0.5 On Port:443"});
}

TEST_F(ChangeDetection, ProcessIdOfNoRunningProcessGivesEmptyProcess) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 999),
                      TcpRow(TTcpState::TimeWait, kLocal, 50001, kServer, 443, 999)};
    EXPECT_EQ(Refresh(), (Events{"2| Connected to 10.0.0.5 On Port:443",
                                 "0|'s Connection Status Changed to Time_Wait,RemoteAddr 10.0.0.5 On Port:443"}));
    Tables.TcpRows.clear();
    EXPECT_EQ(Refresh(), (Events{"3| DisConnected to 10.0.0.5 On Port:443", "3| DisConnected to 10.0.0.5 On Port:443"}));
}

TEST_F(ChangeDetection, HiddenTcpViewStillDetectsChanges) {
    View.ShowTcp = false;
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100)};
    EXPECT_EQ(Refresh(), Events{"2|client.exe Connected to 10.0.0.5 On Port:443"});
    EXPECT_EQ(Outlets.Grid.RowCount(), 2);
    EXPECT_EQ(Outlets.Grid.Row(1), TConnectionRow{});
}

TEST_F(ChangeDetection, FailedTcpFetchReportsNothingClosedAndKeepsTheList) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100)};
    Refresh();
    Tables.TcpFailure = TFailure{EIO, "reading the TCP sockets"};
    EXPECT_EQ(Refresh(), Events{});
    EXPECT_EQ(Connections.Count(), 1u);
    Tables.TcpFailure.reset();
    EXPECT_EQ(Refresh(), Events{});
}

TEST_F(ChangeDetection, UdpRowsCauseNoEvents) {
    Tables.UdpRows = {UdpRow({}, 53, 100)};
    EXPECT_EQ(Refresh(), Events{});
    Tables.UdpRows.clear();
    EXPECT_EQ(Refresh(), Events{});
}

TEST_F(ChangeDetection, ListenerGetsRemotePortZeroInTheSnapshot) {
    Tables.TcpRows = {TcpRow(TTcpState::Listening, {}, 80, {}, 1234, 200)};
    Refresh();
    EXPECT_EQ(Snapshot.TcpRow(0).RemotePort, 0u);
    EXPECT_EQ(Outlets.Grid.Row(1).RemotePort, "0");
}

}  // namespace
}  // namespace tarnwick::testing

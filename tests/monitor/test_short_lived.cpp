// Connections that opened and closed between two refreshes, as the system
// reports their end: logged once, connected then gone, unless the tables
// report them already. Sockets are told apart by their cookies.
#include <gtest/gtest.h>

#include <algorithm>

#include "monitor/connection_key.h"
#include "monitor/refresh_fixture.h"

namespace tarnwick::testing {
namespace {

constexpr TInetAddress kLocal = Ipv4(192, 168, 1, 2);
constexpr TInetAddress kServer = Ipv4(10, 0, 0, 5);
constexpr TInetAddress kPeer = Ipv4(10, 0, 0, 9);

using Events = std::vector<std::string>;

TTcpRow WithCookie(TTcpRow row, uint64_t cookie) {
    row.Cookie = cookie;
    return row;
}

TEndedConnection EndedAt(TInetAddress localAddr, uint16_t localPort, TInetAddress remoteAddr, uint16_t remotePort,
                         uint64_t cookie = 0) {
    return TEndedConnection{WithCookie(TcpRow(TTcpState::Closed, localAddr, localPort, remoteAddr, remotePort), cookie),
                            {}, true};
}

class ShortLivedConnections : public RefreshFixture {
protected:
    ShortLivedConnections() {
        Processes.Entries = {{100, "client.exe"}, {200, "server.exe"}};
        View.ShowShortNames = false;
    }
};

TEST_F(ShortLivedConnections, EachIsLoggedConnectedThenGoneInOrderBeforeTheRowsAndRuleChecked) {
    Tables.TcpRows = {TcpRow(TTcpState::Listening, {}, 80, {}, 0, 200), TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100)};
    Names.Hosts[kPeer.Ipv4Field()] = "peer.lan";
    // Accepted by the listener on port 80, then one of our own, whose process is gone with its socket.
    Ended.Next.Connections = {EndedAt(kLocal, 80, kPeer, 51000), EndedAt(kLocal, 50010, kServer, 443)};
    Refresh();
    EXPECT_EQ(Outlets.Calls, (Events{"size 3",
                                     "log 2 server.exe Connected to peer.lan On Port:51000",
                                     "rules -1 10.0.0.9 80 51000",
                                     "log 3 server.exe DisConnected to 10.0.0.9 On Port:51000",
                                     "log 2 ? Connected to 10.0.0.5 On Port:443",
                                     "rules -1 10.0.0.5 50010 443",
                                     "log 3 DisConnected to 10.0.0.5 On Port:443",
                                     "grid 1",
                                     "log 2 client.exe Connected to 10.0.0.5 On Port:443",
                                     "rules 1 10.0.0.5 50000 443",
                                     "grid 2"}));
    // Each carries the time it ended, not the time it was logged.
    const TLogConnection accepted{"TCP", "192.168.1.2", 80, "10.0.0.9", 51000, "Established", 200, "server.exe",
                                  std::nullopt, std::nullopt, std::chrono::system_clock::time_point{}};
    EXPECT_EQ(Outlets.LogConnections.at(0), accepted);
    TLogConnection gone = accepted;
    gone.State = "Closed";
    EXPECT_EQ(Outlets.LogConnections.at(1), gone);
    EXPECT_EQ(Outlets.LogConnections.at(2)->Pid, std::nullopt);
}

TEST_F(ShortLivedConnections, OnesTheTablesReportAreNotLoggedAgainButARemnantsConnectionIsAnnounced) {
    const TTcpRow kept = WithCookie(TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100), 1);
    const TTcpRow dropped = WithCookie(TcpRow(TTcpState::Established, kLocal, 50001, kServer, 443, 100), 2);
    Tables.TcpRows = {kept, dropped};
    Refresh();

    // `kept` was listed before; `waiting` is the Time_Wait remnant (a socket
    // of its own) of a connection no refresh listed.
    const TTcpRow waiting = WithCookie(TcpRow(TTcpState::TimeWait, kLocal, 50002, kServer, 443), 30);
    Tables.TcpRows = {waiting};
    Ended.Next.Connections = {EndedAt(kLocal, 50000, kServer, 443, 1), EndedAt(kLocal, 50002, kServer, 443, 3)};
    EXPECT_EQ(Refresh(), (Events{"2|? Connected to 10.0.0.5 On Port:443",
                                 "0|?'s Connection Status Changed to Time_Wait,RemoteAddr 10.0.0.5 On Port:443",
                                 "3|client.exe DisConnected to 10.0.0.5 On Port:443",
                                 "3|client.exe DisConnected to 10.0.0.5 On Port:443"}));
    EXPECT_NE(std::find(Outlets.Calls.begin(), Outlets.Calls.end(), "rules -1 10.0.0.5 50002 443"),
              Outlets.Calls.end());

    // `dropped` was reported gone a refresh ago, before the system announced its end.
    Ended.Next.Connections = {EndedAt(kLocal, 50001, kServer, 443, 2), EndedAt(kLocal, 50003, kServer, 443, 4),
                              EndedAt(kLocal, 50003, kServer, 443, 4)};
    EXPECT_EQ(Refresh(), (Events{"2|? Connected to 10.0.0.5 On Port:443", "3|DisConnected to 10.0.0.5 On Port:443"}));
}

TEST_F(ShortLivedConnections, EachSocketAtTheSameEndsIsAConnectionAndARemnantStandsForTheLastOne) {
    // Two connections from the same port in one interval; the second closed
    // first on our side and left its Time_Wait remnant (a cookie of its own).
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::TimeWait, kLocal, 50000, kServer, 443), 30)};
    TEndedConnection first = EndedAt(kLocal, 50000, kServer, 443, 1), second = EndedAt(kLocal, 50000, kServer, 443, 2);
    first.EndedAt += std::chrono::seconds(1);
    second.EndedAt += std::chrono::seconds(2);
    Ended.Next.Connections = {first, second};
    EXPECT_EQ(Refresh(), (Events{"2|? Connected to 10.0.0.5 On Port:443", "3|DisConnected to 10.0.0.5 On Port:443",
                                 "2|? Connected to 10.0.0.5 On Port:443",
                                 "0|?'s Connection Status Changed to Time_Wait,RemoteAddr 10.0.0.5 On Port:443"}));
    EXPECT_EQ(Outlets.LogConnections.at(0)->At, first.EndedAt) << "the remnant was taken for the first";
}

TEST_F(ShortLivedConnections, AnEarlierEndAtTheEndsOfAnAnnouncedConnectionIsNotTakenForItsRemnant) {
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100), 7)};
    Refresh();
    // Its own Time_Wait socket kept its cookie; the end that comes is an earlier connection's.
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::TimeWait, kLocal, 50000, kServer, 443), 7)};
    Ended.Next.Connections = {EndedAt(kLocal, 50000, kServer, 443, 1)};
    EXPECT_EQ(Refresh(), (Events{"2|? Connected to 10.0.0.5 On Port:443", "3|DisConnected to 10.0.0.5 On Port:443",
                                 "0|client.exe's Connection Status Changed to Time_Wait,RemoteAddr 10.0.0.5 On Port:443"}));
}

TEST_F(ShortLivedConnections, AListenerOfTheLastTablesNamesWhatItAcceptedAfterItsProcessIsGone) {
    Tables.TcpRows = {TcpRow(TTcpState::Listening, {}, 80, {}, 0, 200)};
    Refresh();
    Tables.TcpRows = {};
    Processes.Entries = {{100, "client.exe"}};
    Ended.Next.Connections = {EndedAt(kLocal, 80, kPeer, 51000)};
    EXPECT_EQ(Refresh(), (Events{"2|server.exe Connected to 10.0.0.9 On Port:51000",
                                 "3|server.exe DisConnected to 10.0.0.9 On Port:51000",
                                 "3|server.exe DisConnected to 0.0.0.0 On Port:0"}));
}

TEST_F(ShortLivedConnections, AnotherSocketAtTheSameEndsIsANewConnectionAndARemnantKeepsItsSocketsCookie) {
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100), 1)};
    Refresh();
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::TimeWait, kLocal, 50000, kServer, 443), 1)};
    EXPECT_EQ(Refresh(), Events{"0|client.exe's Connection Status Changed to Time_Wait,RemoteAddr 10.0.0.5 On Port:443"});
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100), 7)};
    EXPECT_EQ(Refresh(), (Events{"3|client.exe DisConnected to 10.0.0.5 On Port:443",
                                 "2|client.exe Connected to 10.0.0.5 On Port:443"}));
    EXPECT_EQ(Outlets.Calls.at(2), "rules 0 10.0.0.5 50000 443");
    // Under another cookie a Time_Wait row is a later connection's remnant.
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::TimeWait, kLocal, 50000, kServer, 443), 9)};
    EXPECT_EQ(Refresh(), (Events{"3|client.exe DisConnected to 10.0.0.5 On Port:443",
                                 "0|'s Connection Status Changed to Time_Wait,RemoteAddr 10.0.0.5 On Port:443"}));
}

TEST_F(ShortLivedConnections, AServersHalfOpenConnectionContinuesAsTheSocketItBecomes) {
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::SynRcvd, kLocal, 80, kPeer, 51000), 3)};
    Refresh();
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::Established, kLocal, 80, kPeer, 51000, 200), 4)};
    EXPECT_EQ(Refresh(), Events{"2|server.exe Connected to 10.0.0.9 On Port:51000"});
}

TEST_F(ShortLivedConnections, AGoneConnectionKeepsItsCountsAndItsLateOrResetEndIsNotLoggedAgain) {
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::Established, kLocal, 50000, kServer, 443, 100), 1)};
    Tables.TcpRows[0].Traffic = {10, 20, true};
    Refresh();
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::TimeWait, kLocal, 50000, kServer, 443), 1)};
    Refresh();
    Tables.TcpRows = {};
    EXPECT_EQ(Refresh(), Events{"3|client.exe DisConnected to 10.0.0.5 On Port:443"});
    EXPECT_EQ(Outlets.LogConnections.at(0)->BytesSent, 10u);
    EXPECT_EQ(Outlets.LogConnections.at(0)->BytesReceived, 20u);

    // A reset's end comes with its ends zeroed, long after; it is known by its cookie.
    TEndedConnection reset = EndedAt({}, 50000, kServer, 0, 1);
    TEndedConnection stranger = EndedAt({}, 50009, kServer, 0, 77);
    Ended.Next.Connections = {reset, stranger};
    EXPECT_EQ(Refresh(), Events{"0|1 short-lived connection was not shown."});
}

TEST_F(ShortLivedConnections, AResetEndIsNamedByTheEndOfThisMachineThatFacesItAndNeverGuessed) {
    constexpr TInetAddress loopback = Ipv4(127, 0, 0, 1);
    // The client reset: its end reads 0.0.0.0:51000 -> 127.0.0.1:0, the server's is whole.
    Ended.Next.Connections = {EndedAt({}, 51000, loopback, 0, 7), EndedAt(loopback, 8080, loopback, 51000, 8)};
    Refresh();
    for (const char* check : {"rules -1 127.0.0.1 51000 8080", "rules -1 127.0.0.1 8080 51000"})
        EXPECT_NE(std::find(Outlets.Calls.begin(), Outlets.Calls.end(), check), Outlets.Calls.end()) << check;

    // Port 51000 towards two servers of one address: either could be the one reset.
    Ended.Next.Connections = {EndedAt(loopback, 8080, loopback, 51000, 9), EndedAt(loopback, 8081, loopback, 51000, 10),
                              EndedAt({}, 51000, loopback, 0, 11)};
    const Events events = Refresh();
    EXPECT_EQ(events.back(), "0|1 short-lived connection was not shown.");
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const std::string& e) { return e.rfind("2|", 0) == 0; }),
              2);
}

TEST_F(ShortLivedConnections, OneSeenOnlyInItsHandshakeIsAnnouncedWhenItsEndSaysItGotPastIt) {
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::SynSent, kLocal, 50000, kServer, 443, 100), 1)};
    Refresh();
    Tables.TcpRows = {};
    Ended.Next.Connections = {EndedAt({}, 50000, kServer, 0, 1)};
    EXPECT_EQ(Refresh(), (Events{"2|client.exe Connected to 10.0.0.5 On Port:443",
                                 "3|client.exe DisConnected to 10.0.0.5 On Port:443"}));
    EXPECT_NE(std::find(Outlets.Calls.begin(), Outlets.Calls.end(), "rules -1 10.0.0.5 50000 443"), Outlets.Calls.end());

    // Its end told a refresh after it left the tables (a descriptor held it).
    Tables.TcpRows = {WithCookie(TcpRow(TTcpState::SynSent, kLocal, 50001, kServer, 443, 100), 2)};
    Refresh();
    Tables.TcpRows = {};
    EXPECT_EQ(Refresh(), Events{"3|client.exe DisConnected to 10.0.0.5 On Port:443"});
    Ended.Next.Connections = {EndedAt({}, 50001, kServer, 0, 2)};
    EXPECT_EQ(Refresh(), Events{"2|client.exe Connected to 10.0.0.5 On Port:443"});
}

TEST_F(ShortLivedConnections, AConnectNeverAnsweredIsLoggedAsTheAttemptItWasAndFiresNoRule) {
    TEndedConnection attempt = EndedAt(kLocal, 50020, kServer, 443);
    attempt.WasEstablished = false;
    Ended.Next.Connections = {attempt};
    EXPECT_EQ(Refresh(), (Events{"0|?'s Connection Status Changed to Syn_Sent,RemoteAddr 10.0.0.5 On Port:443",
                                 "3|DisConnected to 10.0.0.5 On Port:443"}));
    for (const std::string& call : Outlets.Calls) EXPECT_NE(call.rfind("rules", 0), 0u) << call;
}

TEST_F(ShortLivedConnections, ThoseNotKeptAreCountedOnOneLine) {
    Ended.Next.Connections = {EndedAt(kLocal, 50010, kServer, 443)};
    Ended.Next.Dropped = 5;
    EXPECT_EQ(Refresh(), (Events{"2|? Connected to 10.0.0.5 On Port:443", "3|DisConnected to 10.0.0.5 On Port:443",
                                 "0|5 short-lived connections were not shown."}));
    Ended.Next.Lost = true;
    EXPECT_EQ(Refresh(), Events{"0|Some short-lived connections were not shown."});
    EXPECT_EQ(Refresh(), Events{});
}

}  // namespace
}  // namespace tarnwick::testing

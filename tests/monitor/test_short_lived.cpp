// Connections that opened and closed between two refreshes, as the system
// reports their end: logged once, connected then gone, unless the tables
// report them already.
#include <gtest/gtest.h>

#include "monitor/connection_key.h"
#include "monitor/refresh_fixture.h"

namespace tarnwick::testing {
namespace {

constexpr uint32_t kClosed = 1, kListening = 2, kEstablished = 5, kTimeWait = 11;
const uint32_t kLocal = AddrField(192, 168, 1, 2);
const uint32_t kServer = AddrField(10, 0, 0, 5);
const uint32_t kPeer = AddrField(10, 0, 0, 9);

using Events = std::vector<std::string>;

TEndedConnection EndedAt(uint32_t localAddr, uint16_t localPort, uint32_t remoteAddr, uint16_t remotePort) {
    return TEndedConnection{TcpRow(kClosed, localAddr, localPort, remoteAddr, remotePort), {}};
}

class ShortLivedConnections : public RefreshFixture {
protected:
    ShortLivedConnections() {
        Processes.Entries = {{100, "client.exe"}, {200, "server.exe"}};
        View.ShowShortNames = false;
    }
};

TEST_F(ShortLivedConnections, EachIsLoggedConnectedThenGoneInOrderBeforeTheRowsAndRuleChecked) {
    Tables.TcpRows = {TcpRow(kListening, 0, 80, 0, 0, 200), TcpRow(kEstablished, kLocal, 50000, kServer, 443, 100)};
    Names.Hosts[kPeer] = "peer.lan";
    // Accepted by the listener on port 80, then one of our own, whose process is gone with its socket.
    Ended.Next.Connections = {EndedAt(kLocal, 80, kPeer, 51000), EndedAt(kLocal, 50010, kServer, 443)};
    Refresh();
    EXPECT_EQ(Outlets.Calls, (Events{"size 3",
                                     "log 2 server.exe Connected to peer.lan On Port:51000",
                                     "rules -1 10.0.0.9 80 51000",
                                     "log 3 server.exe DisConnected to 10.0.0.9 On Port:51000",
                                     "log 2  Connected to 10.0.0.5 On Port:443",
                                     "rules -1 10.0.0.5 50010 443",
                                     "log 3  DisConnected to 10.0.0.5 On Port:443",
                                     "grid 1",
                                     "log 2 client.exe Connected to 10.0.0.5 On Port:443",
                                     "rules 1 10.0.0.5 50000 443",
                                     "grid 2"}));
    const TLogConnection accepted{"TCP", "192.168.1.2", 80, "10.0.0.9", 51000, "Established", 200, "server.exe"};
    EXPECT_EQ(Outlets.LogConnections.at(0), accepted);
    TLogConnection gone = accepted;
    gone.State = "Closed";
    EXPECT_EQ(Outlets.LogConnections.at(1), gone);
    EXPECT_EQ(Outlets.LogConnections.at(2)->Pid, std::nullopt);
}

TEST_F(ShortLivedConnections, OnesTheTablesReportAreNotLoggedAgain) {
    const TTcpRow kept = TcpRow(kEstablished, kLocal, 50000, kServer, 443, 100);
    const TTcpRow dropped = TcpRow(kEstablished, kLocal, 50001, kServer, 443, 100);
    Tables.TcpRows = {kept, dropped};
    Refresh();

    // `kept` was listed before; the end of `waiting` is listed as Time_Wait now.
    const TTcpRow waiting = TcpRow(kTimeWait, kLocal, 50002, kServer, 443);
    Tables.TcpRows = {waiting};
    Ended.Next.Connections = {EndedAt(kLocal, 50000, kServer, 443), EndedAt(kLocal, 50002, kServer, 443)};
    EXPECT_EQ(Refresh(), (Events{"0|'s Connection Status Changed to Time_Wait,RemoteAddr 10.0.0.5 On Port:443",
                                 "3|client.exe DisConnected to 10.0.0.5 On Port:443",
                                 "3|client.exe DisConnected to 10.0.0.5 On Port:443"}));

    // `dropped` was reported gone a refresh ago, before the system announced its end.
    Ended.Next.Connections = {EndedAt(kLocal, 50001, kServer, 443), EndedAt(kLocal, 50003, kServer, 443),
                              EndedAt(kLocal, 50003, kServer, 443)};
    EXPECT_EQ(Refresh(), (Events{"2| Connected to 10.0.0.5 On Port:443", "3| DisConnected to 10.0.0.5 On Port:443"}));
}

TEST_F(ShortLivedConnections, AConnectNeverAnsweredIsLoggedAsTheAttemptItWasAndFiresNoRule) {
    TEndedConnection attempt = EndedAt(kLocal, 50020, kServer, 443);
    attempt.HeardFromPeer = false;
    Ended.Next.Connections = {attempt};
    EXPECT_EQ(Refresh(), (Events{"0|'s Connection Status Changed to Syn_Sent,RemoteAddr 10.0.0.5 On Port:443",
                                 "3| DisConnected to 10.0.0.5 On Port:443"}));
    for (const std::string& call : Outlets.Calls) EXPECT_NE(call.rfind("rules", 0), 0u) << call;
}

TEST_F(ShortLivedConnections, ThoseNotKeptAreCountedOnOneLine) {
    Ended.Next.Connections = {EndedAt(kLocal, 50010, kServer, 443)};
    Ended.Next.Dropped = 5;
    EXPECT_EQ(Refresh(), (Events{"2| Connected to 10.0.0.5 On Port:443", "3| DisConnected to 10.0.0.5 On Port:443",
                                 "0|5 short-lived connections were not shown."}));
    Ended.Next.Lost = true;
    EXPECT_EQ(Refresh(), Events{"0|Some short-lived connections were not shown."});
    EXPECT_EQ(Refresh(), Events{});
}

}  // namespace
}  // namespace tarnwick::testing

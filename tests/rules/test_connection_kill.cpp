// Closing a connection by its snapshot row: only established TCP rows, and
// the system's refusal is reported, not swallowed.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "rules/connection_kill.h"

namespace tarnwick::testing {
namespace {

class ConnectionKill : public ::testing::Test {
protected:
    void SetUp() override {
        Tables.TcpRows = {TcpRow(TTcpState::Listening, {}, 80, {}, 0, 1),
                          TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40000, Ipv4(10, 0, 0, 5), 443, 1)};
        Tables.UdpRows = {UdpRow({}, 53, 1)};
        Snapshot.FetchTables(Tables, Processes);
    }
    TFakeIpTables Tables;
    TFakeProcessList Processes;
    ConnectionSnapshot Snapshot;
    TRecordingKiller Killer;
};

TEST_F(ConnectionKill, OnlyAnEstablishedTcpRowIsClosedWithItsOwnEnds) {
    EXPECT_EQ(KillConnection(Snapshot, 1, Killer).Outcome, TKillOutcome::Killed);
    ASSERT_EQ(Killer.Killed.size(), 1u);
    EXPECT_EQ(Killer.Killed[0].LocalPort, 40000);
    EXPECT_EQ(Killer.Killed[0].RemoteAddr, Ipv4(10, 0, 0, 5));
    EXPECT_EQ(Killer.Killed[0].RemotePort, 443);

    const TKillResult listening = KillConnection(Snapshot, 0, Killer);
    EXPECT_EQ(listening.Message(), "I can only close Established connections!");
    for (int row : {2, 7, -1}) EXPECT_EQ(KillConnection(Snapshot, row, Killer).Message(), "UDP protocol is connection-less");
    EXPECT_EQ(Killer.Killed.size(), 1u);
}

TEST_F(ConnectionKill, ARefusalCarriesTheSystemsReason) {
    Killer.Refusal = TFailure{EPERM, ""};
    const TKillResult result = KillConnection(Snapshot, 1, Killer);
    EXPECT_EQ(result.Outcome, TKillOutcome::Refused);
    EXPECT_EQ(result.Message(), "The connection could not be closed: Operation not permitted");
}

}  // namespace
}  // namespace tarnwick::testing

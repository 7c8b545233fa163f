// The session the window and the command line share: rules that act only
// while the session's switch is on, with the connection's details in their
// log lines, and byte counters read while anything shows traffic.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "monitor/grid_rows.h"
#include "session/monitor_session.h"

namespace tarnwick::testing {
namespace {

class TRowsOutlet final : public TGridOutlet {
public:
    TGridRows Rows;
    int GridRowCount() const override { return Rows.RowCount(); }
    void SetGridRowCount(int rows) override { Rows.SetRowCount(rows); }
    void WriteGridRow(int row, const TConnectionRow& texts) override { Rows.WriteRow(row, texts); }
};

class MonitorSession : public ::testing::Test {
protected:
    void AddSshConnection(uint16_t localPort) {
        Tables.TcpRows.push_back(TcpRow(TTcpState::Established, TInetAddress::Ipv4(192, 168, 1, 2), localPort, TInetAddress::Ipv4(10, 0, 0, 9), 22, 10));
    }

    TFakeIpTables Tables;
    TFakeProcessList Processes;
    TFakeNameLookup Names;
    TRecordingKiller Killer;
    TRecordingLauncher Launcher;
    TRecordingSound Sound;
    TRowsOutlet Grid;
    TMonitorSession Session{
        TSessionServices{TPlatformServices{Tables, Processes, Names}, TRuleServices{Launcher, Sound, Killer}}, Grid};
};

TEST_F(MonitorSession, RulesActWithTheConnectionsDetailsOnlyWhileSwitchedOn) {
    TRuleItem& rule = Session.Rules.Add();
    rule.RulesName = "ssh";
    rule.EnabledRules = rule.EnRemotePortFilter = rule.EnKillAction = rule.EnPopupAction = true;
    rule.RemotePortFilter = 22;
    std::vector<std::string> popups;
    Session.OnPopup = [&](const std::string& header, const std::string& text) { popups.push_back(header + text); };
    std::vector<TLogEntry> ruleLines;
    Session.Log.OnAdded = [&](const TLogEntry& entry) {
        if (entry.Kind == lkRule) ruleLines.push_back(entry);
    };

    AddSshConnection(40100);
    Session.RunRefresh();
    EXPECT_TRUE(ruleLines.empty());
    EXPECT_FALSE(Session.TakeRefreshAsked());

    Session.EnableRules(true);
    AddSshConnection(40101);
    Session.RunRefresh();
    ASSERT_EQ(ruleLines.size(), 2u);  // the kill, then the popup
    ASSERT_TRUE(ruleLines[0].Connection);
    EXPECT_EQ(ruleLines[0].Connection->LocalPort, 40101);
    EXPECT_EQ(ruleLines[0].Connection->RemoteAddress, "10.0.0.9");
    ASSERT_EQ(Killer.Killed.size(), 1u);
    EXPECT_EQ(popups.size(), 1u);
    // The connection it closed is to show gone without waiting for the next tick.
    EXPECT_TRUE(Session.TakeRefreshAsked());
    EXPECT_FALSE(Session.TakeRefreshAsked());
}

TEST_F(MonitorSession, CountersAreReadWhileAnythingShowsTrafficAndTheOptionsSayWhich) {
    EXPECT_FALSE(Session.View.ReadTraffic);
    Session.ShowTraffic(TTrafficViewer::TrafficWindow, true);
    TOptions options;
    options.ShowTraffic = true;
    options.AutoSaveLog = false;
    options.RefreshTime = 10;
    Session.ApplyOptions(options);
    EXPECT_TRUE(Session.View.ShowTraffic);
    EXPECT_FALSE(Session.Log.AutoSaveLog);
    EXPECT_EQ(Session.RefreshTimer().IntervalMs, 10000);

    Session.ShowTraffic(TTrafficViewer::TrafficWindow, false);
    EXPECT_TRUE(Session.View.ReadTraffic);  // the grid's columns still show it
    options.ShowTraffic = false;
    Session.ApplyOptions(options);
    EXPECT_FALSE(Session.View.ShowTraffic);
    EXPECT_FALSE(Session.View.ReadTraffic);
}

}  // namespace
}  // namespace tarnwick::testing

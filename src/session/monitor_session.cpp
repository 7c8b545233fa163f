#include "session/monitor_session.h"

#include <utility>

#include "rules/rule_check.h"

namespace tarnwick {

// The refresh's results on the session's thread: the grid's rows to the
// grid, log lines to the log, new connections to the rules.
class TMonitorSession::TSessionOutlets final : public TRefreshOutlets {
public:
    TSessionOutlets(TMonitorSession& session, TGridOutlet& grid) : Session_(session), Grid_(grid) {}
    int GridRowCount() override { return Grid_.GridRowCount(); }
    void SetGridRowCount(int rows) override { Grid_.SetGridRowCount(rows); }
    void WriteGridRow(int row, const TConnectionRow& texts) override { Grid_.WriteGridRow(row, texts); }
    void AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) override {
        Session_.Log.AddLog(text, kind, connection);
    }
    void CheckRules(int row, const TLogConnection& connection) override { Session_.CheckRules(row, connection); }
    // With a scheduler these are the window thread's outlets: a worker's
    // refresh reaches them through its own, which may wait.
    bool MayWaitForLookups() const override { return !Session_.Scheduler_; }

private:
    TMonitorSession& Session_;
    TGridOutlet& Grid_;
};

TMonitorSession::TMonitorSession(TSessionServices services, TGridOutlet& grid, TPoster poster)
    : Refresh(Snapshot, Connections, services.Platform, View),
      RuleActions_(
          Snapshot, services.Rules,
          [this](const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) {
              Log.AddLog(text, kind, connection);
          },
          [this](const std::string& header, const std::string& text) {
              if (OnPopup) OnPopup(header, text);
          },
          [this] { RefreshAfterKill(); }),
      Outlets_(std::make_unique<TSessionOutlets>(*this, grid)) {
    if (services.Locations) {
        Locations_ = std::make_unique<TLocationCache>(std::move(services.Locations));
        Refresh.Locations = Locations_.get();
    }
    if (poster) Scheduler_ = std::make_unique<TRefreshScheduler>(Refresh, *Outlets_, std::move(poster));
}

TMonitorSession::~TMonitorSession() { Scheduler_.reset(); }

void TMonitorSession::RunRefresh() { Refresh.Run(*Outlets_); }

bool TMonitorSession::TakeRefreshAsked() { return std::exchange(RefreshAsked_, false); }

void TMonitorSession::CheckRules(int row, const TLogConnection& connection) {
    if (OnCheckRules) return OnCheckRules(row, connection);
    if (!RulesEnabled_) return;
    tarnwick::CheckRules(
        Rules, TRuleConnection{row, connection.RemoteAddress, connection.LocalPort, connection.RemotePort, connection},
        RuleActions_);
}

void TMonitorSession::RefreshAfterKill() {
    // Inside a running refresh the scheduler only asks for one after it: the
    // snapshot the rule check reads stays as it is.
    if (Scheduler_) {
        Scheduler_->RunNow();
    } else {
        RefreshAsked_ = true;
    }
}

void TMonitorSession::ApplyOptions(const TOptions& options) {
    if (Log.AutoSaveLog != options.AutoSaveLog) Log.ResetAutoSaveErrorReport();
    Log.AutoSaveLog = options.AutoSaveLog;
    ShowTraffic(TTrafficViewer::GridColumns, options.ShowTraffic);
    View.ShowLocation = options.ShowLocation;
    RefreshTimer_ = RefreshTimerOf(options);
}

void TMonitorSession::ShowTraffic(TTrafficViewer viewer, bool shown) {
    const auto bit = static_cast<unsigned>(viewer);
    TrafficViewers_ = shown ? TrafficViewers_ | bit : TrafficViewers_ & ~bit;
    if (viewer == TTrafficViewer::GridColumns) View.ShowTraffic = shown;
    View.ReadTraffic = TrafficViewers_ != 0;
}

}  // namespace tarnwick

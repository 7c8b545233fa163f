// TMonitorSession: one session of the connection monitor, the same for the
// window and the command line. It holds the snapshot of the tables, the list
// of known connections, the refresh with its scheduler, the event log, the
// rules with the switch that lets them act, the options that shape the
// monitoring, and whether the byte counters are read. What differs between
// the programs comes in from outside: the platform's services, where the
// grid's rows go, and, for a program with an event loop, the poster that
// runs tasks on its thread.
#pragma once

#include <functional>
#include <memory>

#include "log/event_log.h"
#include "monitor/connection_items.h"
#include "monitor/connection_snapshot.h"
#include "monitor/refresh.h"
#include "monitor/refresh_scheduler.h"
#include "monitor/view_settings.h"
#include "rules/options_file.h"
#include "rules/platform_rule_actions.h"
#include "rules/rule_items.h"
#include "session/grid_outlet.h"

namespace tarnwick {

struct TSessionServices {
    TPlatformServices Platform;
    TRuleServices Rules;
    // Opens the location database, for the locations of remote addresses;
    // without it none are looked up.
    TLocationOpener Locations = nullptr;
};

// What may show the byte counters and their rates; they are read while any does.
enum class TTrafficViewer : unsigned {
    GridColumns = 1,    // the grid's four traffic columns
    TrafficWindow = 2,  // the traffic window
    Output = 4,         // the command line's traffic output
    // Whatever may open next: the window keeps the rates ready at all times,
    // as the counters cost a refresh little more than the dump itself.
    AnyTime = 8,
};

class TMonitorSession {
public:
    using TPoster = TRefreshScheduler::TPoster;

    // With `poster` (which queues a task on the thread that owns the session,
    // never running it at once) refreshes run through Scheduler(); without
    // one, only RunRefresh runs them, on the caller's thread.
    TMonitorSession(TSessionServices services, TGridOutlet& grid, TPoster poster = nullptr);
    // Stops the scheduler first: no worker outlives what it writes to.
    ~TMonitorSession();
    TMonitorSession(const TMonitorSession&) = delete;
    TMonitorSession& operator=(const TMonitorSession&) = delete;

    // The view switches, read by every refresh. ReadTraffic is the session's
    // own: see ShowTraffic.
    TViewSettings View;
    ConnectionSnapshot Snapshot;
    TConnectionitems Connections;
    TEventLog Log;
    TRuleItems Rules;
    TRefresh Refresh;

    // The scheduler of a session made with a poster.
    TRefreshScheduler& Scheduler() { return *Scheduler_; }
    const TRefreshScheduler& Scheduler() const { return *Scheduler_; }
    // One refresh on this thread, its results straight into the grid, the log
    // and the rules; for a session without a scheduler.
    void RunRefresh();
    // Whether a rule closed a connection since the last call, so that the
    // list should show it gone without waiting (without a scheduler; with
    // one, a refresh is run for it).
    bool TakeRefreshAsked();

    // "Enable Rules": off at every start, never stored. The rules are tried
    // against every new established connection while it is on, and their
    // actions logged with the connection's details.
    bool RulesEnabled() const { return RulesEnabled_; }
    void EnableRules(bool enabled) { RulesEnabled_ = enabled; }
    // Where a rule's popup goes; without one a popup action only writes its log line.
    TPlatformRuleActions::TShowPopup OnPopup;
    // When set, rule checks go here instead, whatever the switch (tests watch
    // the hand-overs with it).
    std::function<void(int row, const TLogConnection& connection)> OnCheckRules;

    // Applies the settings that shape monitoring: the log's automatic save
    // (a changed setting gets a failing save reported again), the grid's
    // traffic and location columns and the refresh timer, which the caller runs.
    void ApplyOptions(const TOptions& options);
    TRefreshTimerSetting RefreshTimer() const { return RefreshTimer_; }

    // Where remote addresses are looked up (while View.ShowLocation is on);
    // null for a session made without a location database.
    TLocationCache* Locations() { return Locations_.get(); }

    // `viewer` starts or stops showing traffic. The counters cost a refresh a
    // good part of its time, so they are read, from the next refresh on, only
    // while something shows them.
    void ShowTraffic(TTrafficViewer viewer, bool shown);

private:
    class TSessionOutlets;

    void CheckRules(int row, const TLogConnection& connection);
    void RefreshAfterKill();

    TPlatformRuleActions RuleActions_;
    std::unique_ptr<TSessionOutlets> Outlets_;
    bool RulesEnabled_ = false;
    bool RefreshAsked_ = false;
    unsigned TrafficViewers_ = 0;
    TRefreshTimerSetting RefreshTimer_;
    std::unique_ptr<TLocationCache> Locations_;
    // Last: destroyed first, it stops a running worker.
    std::unique_ptr<TRefreshScheduler> Scheduler_;
};

}  // namespace tarnwick

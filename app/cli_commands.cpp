#include "cli_commands.h"

#include <chrono>
#include <cstdio>
#include <iostream>

#include "log/event_log.h"
#include "monitor/grid_rows.h"
#include "monitor/refresh.h"
#include "platform/linux/interrupt_wait.h"
#include "platform/linux/linux_ip_tables.h"
#include "platform/linux/linux_name_lookup.h"
#include "platform/linux/linux_process_list.h"

namespace tarnwick {

namespace {

// Refresh results go straight into the grid's rows and the log; there are no
// rules to check on the command line.
class TCliOutlets final : public TRefreshOutlets {
public:
    TCliOutlets(TGridRows& grid, TEventLog& log) : Grid_(grid), Log_(log) {}
    int GridRowCount() override { return Grid_.RowCount(); }
    void SetGridRowCount(int rows) override { Grid_.SetRowCount(rows); }
    void WriteGridRow(int row, const TConnectionRow& texts) override { Grid_.WriteRow(row, texts); }
    void AddLog(const std::string& text, LogKind kind) override { Log_.AddLog(text, kind); }
    void CheckRules(int, const std::string&, int, int) override {}

private:
    TGridRows& Grid_;
    TEventLog& Log_;
};

// Everything one monitoring session holds, wired to the Linux services.
struct TCliMonitor {
    TLinuxIpTables IpTables;
    TLinuxProcessList Processes;
    TLinuxNameLookup Names;
    TViewSettings View;
    ConnectionSnapshot Snapshot{IpTables.ExTablesAvailable()};
    TConnectionitems Connections;
    TGridRows Grid;
    TEventLog Log;
    TCliOutlets Outlets{Grid, Log};
    TRefresh Refresh{Snapshot, Connections, TPlatformServices{IpTables, Processes, Names}, View};
};

}  // namespace

int RunTableCommand(const TCliOptions& options) {
    TCliMonitor monitor;
    monitor.View.ShowTcp = options.ShowTcp;
    monitor.View.ShowUdp = options.ShowUdp;
    monitor.View.ShowShortNames = options.ShowShortNames;
    monitor.Log.AutoSaveLog = false;  // the table's own refresh logs nothing the user sees
    monitor.Refresh.Run(monitor.Outlets);
    std::cout << monitor.Grid.ToText() << std::flush;
    return 0;
}

int RunWatchCommand(const TCliOptions& options) {
    TInterruptWait interrupt;  // before any thread starts, so that all of them leave the signals to us
    TCliMonitor monitor;
    monitor.Log.AutoSaveLog = false;
    monitor.Log.OnAdded = [](const TLogEntry& entry) {
        std::cout << static_cast<int>(entry.Kind) << '\t' << entry.Line << '\n';
    };
    const auto interval = std::chrono::milliseconds(static_cast<long long>(options.IntervalSeconds * 1000.0));
    for (long long done = 0; !options.Count || done < *options.Count; ++done) {
        if (done > 0 && interrupt.WaitForInterrupt(interval)) break;
        monitor.Refresh.Run(monitor.Outlets);
        std::cout << std::flush;
        // The entries are printed; the log itself need not grow for the whole watch.
        monitor.Log.Clear();
        if (interrupt.WaitForInterrupt(std::chrono::milliseconds(0))) break;
    }
    return 0;
}

}  // namespace tarnwick

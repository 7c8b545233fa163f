#include "cli_report.h"

#include <algorithm>
#include <chrono>

#include "log/event_log.h"
#include "log/html_report.h"
#include "monitor/grid_rows.h"
#include "monitor/refresh.h"
#include "platform/linux/interrupt_wait.h"
#include "platform/linux/linux_ip_tables.h"
#include "platform/linux/linux_name_lookup.h"
#include "platform/linux/linux_process_list.h"

namespace tarnwick {

namespace {

constexpr auto kReportRefreshInterval = std::chrono::milliseconds(3000);

class TReportOutlets final : public TRefreshOutlets {
public:
    TReportOutlets(TGridRows& grid, TEventLog& log) : Grid_(grid), Log_(log) {}
    int GridRowCount() override { return Grid_.RowCount(); }
    void SetGridRowCount(int rows) override { Grid_.SetRowCount(rows); }
    void WriteGridRow(int row, const TConnectionRow& texts) override { Grid_.WriteRow(row, texts); }
    void AddLog(const std::string& text, LogKind kind) override { Log_.AddLog(text, kind); }
    void CheckRules(int, const std::string&, int, int) override {}  // no rules here

private:
    TGridRows& Grid_;
    TEventLog& Log_;
};

struct TReportMonitor {
    TLinuxIpTables IpTables;
    TLinuxProcessList Processes;
    TLinuxNameLookup Names;
    TViewSettings View;
    ConnectionSnapshot Snapshot{IpTables.ExTablesAvailable()};
    TConnectionitems Connections;
    TGridRows Grid;
    TEventLog Log;
    TReportOutlets Outlets{Grid, Log};
    TRefresh Refresh{Snapshot, Connections, TPlatformServices{IpTables, Processes, Names}, View};

    TReportMonitor() { Log.AutoSaveLog = false; }  // the whole watch goes into one report
};

}  // namespace

int RunReportTableCommand(const std::string& file) {
    TReportMonitor monitor;
    monitor.Refresh.Run(monitor.Outlets);
    SaveReport(file, BuildTableReport(monitor.Grid, CurrentReportHeading()));
    return 0;
}

int RunReportLogCommand(const std::string& file, double seconds) {
    TInterruptWait interrupt;  // before any thread starts
    TReportMonitor monitor;
    using namespace std::chrono;
    const auto end = steady_clock::now() + milliseconds(static_cast<long long>(seconds * 1000.0));
    monitor.Refresh.Run(monitor.Outlets);
    while (steady_clock::now() < end) {
        const auto wait = std::min<steady_clock::duration>(kReportRefreshInterval, end - steady_clock::now());
        if (interrupt.WaitForInterrupt(duration_cast<milliseconds>(wait))) break;
        monitor.Refresh.Run(monitor.Outlets);
    }
    SaveReport(file, BuildLogReport(monitor.Log.Entries(), CurrentReportHeading()));
    return 0;
}

}  // namespace tarnwick

#include "cli_report.h"

#include "cli_monitor.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "log/html_report.h"

namespace tarnwick {

namespace {

constexpr auto kReportRefreshInterval = std::chrono::milliseconds(3000);

}  // namespace

int RunReportTableCommand(const std::string& file) {
    if (!TablesBindable(std::cerr)) return 1;
    TCliMonitor monitor;
    if (!monitor.RefreshTables(std::cerr)) return 1;
    SaveReport(file, BuildTableReport(monitor.Grid.Rows, CurrentReportHeading()));
    return 0;
}

int RunReportLogCommand(const std::string& file, double seconds) {
    TInterruptWait interrupt;  // before any thread starts
    if (!TablesBindable(std::cerr)) return 1;
    TCliMonitor monitor(true);  // the log of a watch, as the window's log would hold it
    using namespace std::chrono;
    const auto end = steady_clock::now() + milliseconds(static_cast<long long>(seconds * 1000.0));
    if (!monitor.RefreshTables(std::cerr)) return 1;
    while (steady_clock::now() < end) {
        const auto wait = std::min<steady_clock::duration>(kReportRefreshInterval, end - steady_clock::now());
        if (interrupt.WaitForInterrupt(duration_cast<milliseconds>(wait))) break;
        if (!monitor.RefreshTables(std::cerr)) return 1;
    }
    SaveReport(file, BuildLogReport(monitor.Session.Log.Entries(), CurrentReportHeading()));
    return 0;
}

}  // namespace tarnwick

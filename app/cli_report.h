// tarnwick-cli report: the HTML pages of the connection table and the log.
#pragma once

#include <string>

namespace tarnwick {

// One refresh, then the connection table report written to `file`.
int RunReportTableCommand(const std::string& file);

// Watches for `seconds` (a refresh at the start, every 3 seconds and at the
// end; Ctrl+C ends the watch early) and writes the log it collected as the log
// report to `file`.
int RunReportLogCommand(const std::string& file, double seconds);

}  // namespace tarnwick

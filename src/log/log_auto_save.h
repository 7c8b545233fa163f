// The automatic log save: when the event log grows past its limit, the whole
// log goes as a log report to Logs/LogYYYYMMDD-NNN.htm beside the executable.
//
// A save never replaces an earlier one. NNN is drawn at random; when that
// name is taken, the next free number is used (NNN+1, ..., 999, then 000
// onwards). When all 1000 three-digit names of the day are taken, the number
// grows a digit instead: the lowest free of 1000, 1001, ... (Log20261206-1000.htm),
// and so on. Each name is created exclusively, so that two saves at once
// (two windows, say) never write into one file.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <string>

#include "platform/program_environment.h"
#include "common/result.h"
#include "log/event_log.h"
#include "log/html_report.h"

namespace tarnwick {

// A number from 0 to 999 drawn from a generator seeded from `now` just before.
int DrawLogFileNumber(std::chrono::system_clock::time_point now);

// "Log" + year, month, day of `local` + "-" + `number`, zero-padded to 4, 2,
// 2 and 3 digits, + ".htm", e.g. Log20261206-047.htm. Numbers past 999 are
// written in full: Log20261206-1000.htm.
std::string AutoSaveLogFileName(const std::tm& local, int number);

struct TLogAutoSaveContext {
    std::string BaseDirectory = ExecutableDirectory();  // Logs is made here
    std::function<std::chrono::system_clock::time_point()> Clock = std::chrono::system_clock::now;
    std::function<int(std::chrono::system_clock::time_point)> DrawNumber = DrawLogFileNumber;
    std::function<std::string()> HostText = LocalHostText;  // throws TReportError on failure
};

// Creates <base>/Logs when missing (one level, failure not checked: the write
// then fails) and writes the log report of `log` to a new dated file, named
// as above: the path written. Never throws for a failed save: it fails with
// the message for the user as its context ("Cannot create file ...").
TResult<std::string> AutoSaveLogFile(const TEventLog& log, const TLogAutoSaveContext& context = {});

// A saver for TEventLog::AutoSaver: saves with `context` and hands the message
// of a failed save to `showError` (the log then keeps its entries), unless the
// log has reported a failure of this run already.
//
// `showError` runs inside AddLog, which on the window may be inside a refresh
// hand-over with the worker waiting: it must not block, nor open a modal box
// there. Post the box to run after.
TEventLog::TAutoSaver MakeLogAutoSaver(TLogAutoSaveContext context,
                                       std::function<void(const std::string&)> showError);

}  // namespace tarnwick

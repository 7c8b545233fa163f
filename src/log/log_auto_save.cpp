#include "log/log_auto_save.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include <sys/stat.h>

namespace tarnwick {

std::string ExecutableDirectory() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.has_parent_path()) return ".";
    return exe.parent_path().string();
}

int DrawLogFileNumber(std::chrono::system_clock::time_point now) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    // A 32-bit linear congruential generator, seeded afresh, one step, scaled to 0..999.
    uint32_t seed = static_cast<uint32_t>(ms);
    seed = seed * 134775813u + 1u;
    return static_cast<int>((static_cast<uint64_t>(seed) * 1000u) >> 32);
}

std::string AutoSaveLogFileName(const std::tm& local, int number) {
    char name[64];
    std::snprintf(name, sizeof name, "Log%.4d%.2d%.2d-%.3d.htm", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, number);
    return name;
}

TAutoSaveResult AutoSaveLogFile(const TEventLog& log, const TLogAutoSaveContext& context) {
    TAutoSaveResult result;
    const std::string folder = context.BaseDirectory + "/Logs";
    ::mkdir(folder.c_str(), 0777);
    try {
        TReportHeading heading;
        heading.Host = context.HostText();
        const auto now = context.Clock();
        heading.Time = ReportTimeText(now);
        const std::time_t t = std::chrono::system_clock::to_time_t(now);
        std::tm local{};
        ::localtime_r(&t, &local);
        result.Path = folder + "/" + AutoSaveLogFileName(local, context.DrawNumber(now));
        SaveReport(result.Path, BuildLogReport(log.Entries(), heading));
        result.Saved = true;
    } catch (const TReportError& e) {
        result.Error = e.what();
    }
    return result;
}

TEventLog::TAutoSaver MakeLogAutoSaver(TLogAutoSaveContext context,
                                       std::function<void(const std::string&)> showError) {
    return [context = std::move(context), showError = std::move(showError)](const TEventLog& log) {
        const TAutoSaveResult result = AutoSaveLogFile(log, context);
        if (!result.Saved && showError && !log.AutoSaveErrorReported()) showError(result.Error);
        return result.Saved;
    };
}

}  // namespace tarnwick

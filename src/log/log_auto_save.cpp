#include "log/log_auto_save.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/local_time.h"
#include <string_view>

namespace tarnwick {

namespace {

constexpr int kThreeDigitNumbers = 1000;

// The numbers of the day's saves in `folder`, sorted: of every name there
// that AutoSaveLogFileName gives for the day of `local`.
std::vector<int> TakenNumbers(const std::string& folder, const std::tm& local) {
    std::string prefix = AutoSaveLogFileName(local, 0);
    prefix.resize(prefix.size() - std::string_view("000.htm").size());
    constexpr std::string_view kSuffix = ".htm";
    std::vector<int> taken;
    // A folder that cannot be listed leaves the numbers unknown: the saves
    // then try the names one after another and learn which are taken.
    (void)ForEachFolderEntry(folder, [&](std::string_view name) {
        if (!name.starts_with(prefix) || !name.ends_with(kSuffix)) return;
        const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - kSuffix.size());
        // As the names are written: three digits, or more without a leading zero.
        if (digits.size() < 3 || digits.size() > 9 || (digits.size() > 3 && digits.front() == '0')) return;
        int number = 0;
        for (const char c : digits) number = c >= '0' && c <= '9' && number >= 0 ? number * 10 + (c - '0') : -1;
        if (number >= 0) taken.push_back(number);
    });
    std::sort(taken.begin(), taken.end());
    return taken;
}

void AddTaken(std::vector<int>& taken, int number) {
    const auto at = std::lower_bound(taken.begin(), taken.end(), number);
    if (at == taken.end() || *at != number) taken.insert(at, number);
}

// The first free number for a save whose drawn number was taken: the
// three-digit numbers after the drawn one, round to it, then 1000 upwards;
// -1 when none is left. `taken` is sorted, without repeats.
int FreeNumber(int drawn, const std::vector<int>& taken) {
    const auto firstWide = std::lower_bound(taken.begin(), taken.end(), kThreeDigitNumbers);
    if (firstWide - taken.begin() < kThreeDigitNumbers) {
        for (int step = 1; step < kThreeDigitNumbers; ++step) {
            const int number = (drawn + step) % kThreeDigitNumbers;
            if (!std::binary_search(taken.begin(), firstWide, number)) return number;
        }
    }
    int number = kThreeDigitNumbers;
    for (auto it = firstWide; it != taken.end() && *it == number; ++it) {
        if (number == INT_MAX) return -1;
        ++number;
    }
    return number;
}

// The path of `name` in `folder`, joined as the system joins them.
std::string InFolder(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

// Writes `page` to a new file in `folder` named for the day of `local` with
// the number `drawn`, or the first free one after it; the path written, or
// empty when every name is taken. Throws TReportError when a file cannot be
// made.
std::string SaveUnderNewName(const std::string& folder, const std::tm& local, int drawn, const std::string& page) {
    std::string path = InFolder(folder, AutoSaveLogFileName(local, drawn));
    if (SaveNewReport(path, page)) return path;
    // One look at the folder rather than trying its names one by one. A name
    // taken since (by another save at the same moment) is passed over too.
    std::vector<int> taken = TakenNumbers(folder, local);
    AddTaken(taken, drawn);
    for (int number = FreeNumber(drawn, taken); number >= 0; number = FreeNumber(drawn, taken)) {
        path = InFolder(folder, AutoSaveLogFileName(local, number));
        if (SaveNewReport(path, page)) return path;
        AddTaken(taken, number);
    }
    return {};
}

}  // namespace

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

TResult<std::string> AutoSaveLogFile(const TEventLog& log, const TLogAutoSaveContext& context) {
    const std::string folder = InFolder(context.BaseDirectory, "Logs");
    std::error_code ignored;
    std::filesystem::create_directory(folder, ignored);
    const auto now = context.Clock();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const std::tm local = LocalTimeOf(t);
    const int drawn = ((context.DrawNumber(now) % kThreeDigitNumbers) + kThreeDigitNumbers) % kThreeDigitNumbers;
    try {
        TReportHeading heading;
        heading.Host = context.HostText();
        heading.Time = ReportTimeText(now);
        std::string path = SaveUnderNewName(folder, local, drawn, BuildLogReport(log.Entries(), heading));
        if (path.empty()) {
            const std::string drawnPath = FullFileName(InFolder(folder, AutoSaveLogFileName(local, drawn)));
            return TFailure{0, "Cannot create file \"" + drawnPath + "\". Every name of the day is taken."};
        }
        return path;
    } catch (const TReportError& e) {
        return TFailure{0, e.what()};
    }
}

TEventLog::TAutoSaver MakeLogAutoSaver(TLogAutoSaveContext context,
                                       std::function<void(const std::string&)> showError) {
    return [context = std::move(context), showError = std::move(showError)](const TEventLog& log) {
        const TResult<std::string> saved = AutoSaveLogFile(log, context);
        if (!saved && showError && !log.AutoSaveErrorReported()) showError(saved.Failure().Text());
        return saved.Ok();
    };
}

}  // namespace tarnwick

#include "rules/options_file.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/file_names.h"
#include "common/ini_file.h"
#include "common/text_util.h"
#include "rules/ini_file_io.h"

namespace tarnwick {

namespace {

constexpr const char* kOptionSection = "Option";
constexpr const char* kOptionsFileName = "Option.ini";
constexpr const char* kShowTrafficKey = "ShowTraffic";
constexpr const char* kShowLocationKey = "ShowLocation";
constexpr const char* kGridFilterKey = "GridFilter";
constexpr const char* kGridSortColumnKey = "GridSortColumn";
constexpr const char* kGridSortOrderKey = "GridSortOrder";
constexpr const char* kDescending = "Descending";

TGridViewOptions ReadGridViewOptions(const TIniFile& ini) {
    TGridViewOptions view;
    view.Filter = ini.ReadString(kOptionSection, kGridFilterKey, "");
    view.SortColumn = ini.ReadString(kOptionSection, kGridSortColumnKey, "");
    view.SortDescending = AsciiLowerCase(ini.ReadString(kOptionSection, kGridSortOrderKey, "")) ==
                          AsciiLowerCase(kDescending);
    return view;
}

// A View menu switch: written when on, or where the file has it already.
void SaveViewSwitch(const std::string& path, const char* key, bool show) {
    TIniFile ini = LoadIniFileForSaving(path);
    if (!show && !ini.ValueExists(kOptionSection, key)) return;
    ini.WriteBool(kOptionSection, key, show);
    SaveIniFile(ini, path);
}

}  // namespace

TRefreshTimerSetting RefreshTimerOf(const TOptions& options) {
    const long long interval = std::min<long long>(static_cast<long long>(options.RefreshTime) * 1000, INT32_MAX);
    return TRefreshTimerSetting{options.AutoRefresh && options.RefreshTime > 0, static_cast<int>(interval)};
}

TOptions LoadOptionsFile(const std::string& path) {
    TIniFile ini;
    try {
        ini = LoadIniFile(path);
    } catch (const TIniReadError&) {
        // An unreadable file reads like a missing one: the window must come up with defaults.
    }
    const TOptions defaults;
    TOptions options;
    options.AutoRefresh = ini.ReadBool(kOptionSection, "AutoRefresh", defaults.AutoRefresh);
    options.RefreshTime = ini.ReadInteger(kOptionSection, "RefreshTime", defaults.RefreshTime);
    options.Tray = ini.ReadBool(kOptionSection, "Tray", defaults.Tray);
    options.AutoStart = ini.ReadBool(kOptionSection, "AutoStart", defaults.AutoStart);
    options.AutoSaveLog = ini.ReadBool(kOptionSection, "AutoSaveLog", defaults.AutoSaveLog);
    options.DataBuffer = ini.ReadInteger(kOptionSection, "DataBuffer", defaults.DataBuffer);
    options.ShowTraffic = ini.ReadBool(kOptionSection, kShowTrafficKey, defaults.ShowTraffic);
    options.ShowLocation = ini.ReadBool(kOptionSection, kShowLocationKey, defaults.ShowLocation);
    options.GridView = ReadGridViewOptions(ini);
    return options;
}

void SaveOptionsFile(const std::string& path, const TOptions& options) {
    TIniFile ini = LoadIniFileForSaving(path);
    ini.WriteBool(kOptionSection, "AutoRefresh", options.AutoRefresh);
    ini.WriteInteger(kOptionSection, "RefreshTime", options.RefreshTime);
    ini.WriteBool(kOptionSection, "Tray", options.Tray);
    ini.WriteBool(kOptionSection, "AutoStart", options.AutoStart);
    ini.WriteBool(kOptionSection, "AutoSaveLog", options.AutoSaveLog);
    ini.WriteInteger(kOptionSection, "DataBuffer", options.DataBuffer);
    SaveIniFile(ini, path);
}

void SaveShowTrafficOption(const std::string& path, bool show) { SaveViewSwitch(path, kShowTrafficKey, show); }

void SaveShowLocationOption(const std::string& path, bool show) { SaveViewSwitch(path, kShowLocationKey, show); }

void SaveGridViewOptions(const std::string& path, const TGridViewOptions& view) {
    TIniFile ini = LoadIniFileForSaving(path);
    if (ReadGridViewOptions(ini) == view) return;
    const bool sorted = !view.SortColumn.empty();
    const auto write = [&ini](const char* key, const std::string& value) {
        if (!value.empty() || ini.ValueExists(kOptionSection, key)) ini.WriteString(kOptionSection, key, value);
    };
    write(kGridFilterKey, view.Filter);
    write(kGridSortColumnKey, view.SortColumn);
    write(kGridSortOrderKey, !sorted ? "" : view.SortDescending ? kDescending : "Ascending");
    SaveIniFile(ini, path);
}

std::string OptionsFilePath(const std::string& executableDir) {
    return FindFileIgnoringCase(executableDir, kOptionsFileName);
}

}  // namespace tarnwick

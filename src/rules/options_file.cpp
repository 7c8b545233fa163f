#include "rules/options_file.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "common/ini_file.h"
#include "common/text_util.h"

namespace tarnwick {

namespace {

constexpr const char* kOptionSection = "Option";
constexpr const char* kOptionsFileName = "Option.ini";

}  // namespace

TOptions LoadOptionsFile(const std::string& path) {
    TIniFile ini;
    try {
        ini = TIniFile::Load(path);
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
    return options;
}

void SaveOptionsFile(const std::string& path, const TOptions& options) {
    TIniFile ini;
    try {
        ini = TIniFile::Load(path);
    } catch (const TIniReadError& error) {
        // What cannot be read cannot be kept; writing over it would lose it.
        throw TIniWriteError(path, error.Reason());
    }
    ini.WriteBool(kOptionSection, "AutoRefresh", options.AutoRefresh);
    ini.WriteInteger(kOptionSection, "RefreshTime", options.RefreshTime);
    ini.WriteBool(kOptionSection, "Tray", options.Tray);
    ini.WriteBool(kOptionSection, "AutoStart", options.AutoStart);
    ini.WriteBool(kOptionSection, "AutoSaveLog", options.AutoSaveLog);
    ini.WriteInteger(kOptionSection, "DataBuffer", options.DataBuffer);
    ini.Save(path);
}

std::string OptionsFilePath(const std::string& executableDir) {
    namespace fs = std::filesystem;
    const fs::path folder(executableDir);
    std::error_code error;
    if (fs::exists(folder / kOptionsFileName, error)) return (folder / kOptionsFileName).string();

    const std::string wanted = AsciiLowerCase(kOptionsFileName);
    std::optional<std::string> found;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code kindError;
        if (it->is_directory(kindError)) continue;
        const std::string name = it->path().filename().string();
        if (AsciiLowerCase(name) == wanted && (!found || name < *found)) found = name;
    }
    return (folder / found.value_or(kOptionsFileName)).string();
}

}  // namespace tarnwick

#include "common/file_locations.h"

#include <filesystem>
#include <optional>

namespace tarnwick {

namespace {

constexpr const char* kFolderName = "tarnwick";

// The installed layout: bin/ beside share/, as cmake --install and the package make it.
std::string InstalledShareDir(const std::string& exeDir) { return exeDir + "/../share/tarnwick"; }

// <XDG variable> when absolute (the base directory rules ignore a relative
// one), else $HOME/<fallback>; nullopt when neither can be had.
std::optional<std::string> BaseDir(const TEnvLookup& env, const char* variable, const char* fallback) {
    if (const auto value = env(variable); value && value->front() == '/') return *value;
    if (const auto home = env("HOME"); home && home->front() == '/') return *home + "/" + fallback;
    return std::nullopt;
}

}  // namespace

TSettingsLocation ResolveSettingsLocation(const std::string& exeDir, const TEnvLookup& env,
                                          const std::function<bool(const std::string&)>& portable) {
    if (portable(exeDir)) return {exeDir, exeDir};
    const auto config = BaseDir(env, "XDG_CONFIG_HOME", ".config");
    const auto data = BaseDir(env, "XDG_DATA_HOME", ".local/share");
    TSettingsLocation location{config ? *config + "/" + kFolderName : exeDir,
                               data ? *data + "/" + kFolderName : exeDir};
    std::error_code ignored;
    std::filesystem::create_directories(location.SettingsDir, ignored);
    std::filesystem::create_directories(location.LogsBaseDir, ignored);
    return location;
}

bool IsInstalledFolder(const std::string& exeDir) {
    std::error_code ec;
    return std::filesystem::is_directory(InstalledShareDir(exeDir), ec);
}

std::string HelpPagePath(const std::string& exeDir) {
    const std::string beside = exeDir + "/help.htm";
    std::error_code ec;
    if (std::filesystem::is_regular_file(beside, ec)) return beside;
    const std::string installed = InstalledShareDir(exeDir) + "/help.htm";
    if (std::filesystem::is_regular_file(installed, ec)) return std::filesystem::path(installed).lexically_normal().string();
    return beside;
}

}  // namespace tarnwick

#include "platform/program_environment.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace tarnwick {

namespace {

std::optional<std::string> HomeOfUserDatabase() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || *found->pw_dir == '\0')
        return std::nullopt;
    return std::string(found->pw_dir);
}

}  // namespace

std::optional<std::string> ProcessEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value != nullptr && *value != '\0') return std::string(value);
    if (name == "HOME") return HomeOfUserDatabase();
    return std::nullopt;
}

std::string ExecutableDirectory() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.has_parent_path()) return ".";
    return exe.parent_path().string();
}

bool IsPortableFolder(const std::string& exeDir) {
    if (IsInstalledFolder(exeDir)) return false;
    return ::access(exeDir.c_str(), W_OK | X_OK) == 0;
}

TSettingsLocation ResolveSettingsLocation(const std::string& exeDir) {
    return ResolveSettingsLocation(exeDir, ProcessEnvironment, IsPortableFolder);
}

}  // namespace tarnwick

#include "platform/program_environment.h"

#include <windows.h>

#include <filesystem>
#include <vector>

#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace tarnwick {

namespace {

constexpr const char* kFolderName = "Tarnwick";

}  // namespace

std::optional<std::string> ProcessEnvironment(const std::string& name) {
    // The wide environment: the 8-bit one is in the system code page, not UTF-8.
    const std::wstring wideName = WideText(name);
    std::vector<wchar_t> value(256);
    for (;;) {
        const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) break;
        if (length < value.size()) return Utf8Text(std::wstring_view(value.data(), length));
        value.resize(length);
    }
    // The user's profile is Windows's home folder.
    if (name == "HOME") return ProcessEnvironment("USERPROFILE");
    return std::nullopt;
}

std::string ExecutableDirectory() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return ".";
        if (length < path.size()) {
            const std::filesystem::path exe(std::wstring(path.data(), length));
            return exe.has_parent_path() ? Utf8Text(exe.parent_path().native()) : ".";
        }
        path.resize(path.size() * 2);  // cut: the buffer was too small
    }
}

bool IsPortableFolder(const std::string& exeDir) {
    if (IsInstalledFolder(exeDir)) return false;
    // Windows's access rights are in the folder's access list, which only an
    // attempt reads right: a file made and dropped at once.
    const std::wstring probe = WideText(exeDir + "\\.tarnwick-write-test-" + std::to_string(::GetCurrentProcessId()));
    const TUniqueHandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.IsValid();
}

// Windows keeps a user's settings in the roaming application data folder and
// what may be large (the log saves) in the local one.
TSettingsLocation ResolveSettingsLocation(const std::string& exeDir) {
    if (IsPortableFolder(exeDir)) return {exeDir, exeDir};
    const auto roaming = ProcessEnvironment("APPDATA");
    const auto local = ProcessEnvironment("LOCALAPPDATA");
    TSettingsLocation location{roaming ? *roaming + "\\" + kFolderName : exeDir,
                               local ? *local + "\\" + kFolderName : exeDir};
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(WideText(location.SettingsDir)), ignored);
    std::filesystem::create_directories(std::filesystem::path(WideText(location.LogsBaseDir)), ignored);
    return location;
}

}  // namespace tarnwick

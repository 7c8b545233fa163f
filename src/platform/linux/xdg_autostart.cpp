#include "platform/linux/xdg_autostart.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/atomic_file.h"

namespace tarnwick {

namespace {

// Characters that make a session's launcher split or interpret an unquoted
// Exec argument.
constexpr std::string_view kReservedInExec = " \t\n\"'\\><~|&;$*?#`()";
// Characters a quoted Exec argument must escape with a backslash.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

std::string HomeDir() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) return user->pw_dir;
    return "/";
}

}  // namespace

std::string DesktopExecValue(const std::string& path) {
    const bool quote = path.empty() || path.find_first_of(kReservedInExec) != std::string::npos;
    std::string exec;
    if (quote) exec += '"';
    for (const char c : path) {
        if (c == '%') {
            exec += "%%";  // a single '%' would start a field code
            continue;
        }
        if (quote && kEscapedInQuotes.find(c) != std::string_view::npos) exec += '\\';
        exec += c;
    }
    if (quote) exec += '"';

    // The key file reads its string escapes before the launcher sees the quoting.
    std::string value;
    for (const char c : exec) {
        switch (c) {
            case '\\': value += "\\\\"; break;
            case '\t': value += "\\t"; break;
            case '\n': value += "\\n"; break;
            case '\r': value += "\\r"; break;
            default: value += c;
        }
    }
    return value;
}

std::string DesktopEntryText(const std::string& executablePath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tarnwick\n"
           "Exec=" + DesktopExecValue(executablePath) + "\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string TXdgAutostart::EntryPath(const std::string& name) const {
    return Dir_ + "/" + name + ".desktop";
}

TStatus TXdgAutostart::Enable(const std::string& name, const std::string& executablePath) {
    const std::string failure = "Failed to set data for '" + name + "'";
    std::error_code error;
    std::filesystem::create_directories(Dir_, error);
    if (error) return TFailure{error.value(), failure};
    if (const TStatus written = WriteWholeFile(EntryPath(name), DesktopEntryText(executablePath)); !written)
        return TFailure{written.Failure().Errno, failure};
    return {};
}

void TXdgAutostart::Disable(const std::string& name) {
    // unlink, not remove: a folder of that name is none of ours.
    ::unlink(EntryPath(name).c_str());
}

std::string DefaultAutostartDir() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Relative values are invalid and to be ignored.
    const std::string base = config != nullptr && config[0] == '/' ? std::string(config) : HomeDir() + "/.config";
    return base + "/autostart";
}

}  // namespace tarnwick

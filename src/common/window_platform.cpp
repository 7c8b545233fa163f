#include "common/window_platform.h"

namespace tarnwick {

std::optional<std::string> ChooseWindowPlatform(const TEnvLookup& env, const std::vector<std::string>& args) {
    if (env("QT_QPA_PLATFORM")) return std::nullopt;
    for (const std::string& arg : args) {
        // Qt takes its options with one dash or two, the value as the next argument.
        if (arg == "-platform" || arg == "--platform") return std::nullopt;
    }
    if (env("WAYLAND_DISPLAY") && env("DISPLAY")) return "xcb";
    return std::nullopt;
}

bool PlatformPlacesWindows(const std::string& platformName) { return !platformName.starts_with("wayland"); }

}  // namespace tarnwick

// Which windowing system the window asks Qt for.
//
// Alerts slide in at an exact place in the corner of the work area. A Wayland
// client may not place its own windows, so on a Wayland session that runs
// XWayland the window runs as an X11 client instead. The user's own choice
// always stands; without XWayland the window stays on Wayland and the
// compositor places the alerts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/environment.h"

namespace tarnwick {

// The value to give QT_QPA_PLATFORM before the application object is made, or
// nullopt to leave Qt's choice alone: "xcb" when WAYLAND_DISPLAY and DISPLAY
// are both set, unless QT_QPA_PLATFORM is set or `args` (the command line
// after the program name) chooses one with -platform or --platform.
std::optional<std::string> ChooseWindowPlatform(const TEnvLookup& env, const std::vector<std::string>& args);

// Whether windows of the Qt platform `platformName` go where the program puts
// them. Not on Wayland ("wayland", "wayland-egl", ...): there the compositor
// places them, and it refuses a tooltip-type window that has no parent window
// to hang from, so an alert must be an ordinary top-level window.
bool PlatformPlacesWindows(const std::string& platformName);

}  // namespace tarnwick

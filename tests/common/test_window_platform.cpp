// The windowing system the window asks for: X11 through XWayland on a Wayland
// session, so that alerts can be placed; otherwise whatever Qt or the user chose.
#include "common/window_platform.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace tarnwick {
namespace {

TEnvLookup EnvOf(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

const std::map<std::string, std::string> kWaylandWithXwayland{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}};

TEST(WindowPlatform, WaylandWithXwaylandRunsOnX11) {
    EXPECT_EQ(ChooseWindowPlatform(EnvOf(kWaylandWithXwayland), {}), "xcb");
    EXPECT_EQ(ChooseWindowPlatform(EnvOf(kWaylandWithXwayland), {"-style", "fusion"}), "xcb");
}

TEST(WindowPlatform, QtDecidesOnX11AloneOrWaylandWithoutXwayland) {
    EXPECT_EQ(ChooseWindowPlatform(EnvOf({{"DISPLAY", ":0"}}), {}), std::nullopt);
    EXPECT_EQ(ChooseWindowPlatform(EnvOf({{"WAYLAND_DISPLAY", "wayland-0"}}), {}), std::nullopt);
    EXPECT_EQ(ChooseWindowPlatform(EnvOf({}), {}), std::nullopt);
}

TEST(WindowPlatform, TheUsersChoiceStands) {
    auto env = kWaylandWithXwayland;
    env["QT_QPA_PLATFORM"] = "wayland";
    EXPECT_EQ(ChooseWindowPlatform(EnvOf(env), {}), std::nullopt);
    EXPECT_EQ(ChooseWindowPlatform(EnvOf(kWaylandWithXwayland), {"-platform", "wayland"}), std::nullopt);
    EXPECT_EQ(ChooseWindowPlatform(EnvOf(kWaylandWithXwayland), {"--platform", "wayland"}), std::nullopt);
}

TEST(WindowPlatform, OnlyWaylandPlacesTheWindowsItself) {
    EXPECT_TRUE(PlatformPlacesWindows("xcb"));
    EXPECT_TRUE(PlatformPlacesWindows("offscreen"));
    EXPECT_FALSE(PlatformPlacesWindows("wayland"));
    EXPECT_FALSE(PlatformPlacesWindows("wayland-egl"));
}

}  // namespace
}  // namespace tarnwick

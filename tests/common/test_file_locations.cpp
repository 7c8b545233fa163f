// Where settings, logs and the help page are: beside a portable copy, under
// the XDG base folders and share/tarnwick for an installed one.
#include "common/file_locations.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "common/temp_folder.h"
#include "platform/program_environment.h"

namespace tarnwick {
namespace {

using testing::TTempFolder;

TEnvLookup EnvOf(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

const auto kPortable = [](const std::string&) { return true; };
const auto kInstalled = [](const std::string&) { return false; };

TEST(SettingsLocation, PortableCopyKeepsEverythingBesideTheExecutable) {
    const TSettingsLocation location =
        ResolveSettingsLocation("/opt/tw", EnvOf({{"HOME", "/home/u"}, {"XDG_CONFIG_HOME", "/x"}}), kPortable);
    EXPECT_EQ(location.SettingsDir, "/opt/tw");
    EXPECT_EQ(location.LogsBaseDir, "/opt/tw");
}

TEST(SettingsLocation, InstalledCopyUsesTheXdgFoldersAndMakesThem) {
#ifdef _WIN32
    GTEST_SKIP() << "the XDG base folders are Linux's; Windows keeps the settings under APPDATA";
#endif
    TTempFolder home;
    const TSettingsLocation location =
        ResolveSettingsLocation("/usr/bin", EnvOf({{"HOME", home.Path()}}), kInstalled);
    EXPECT_EQ(location.SettingsDir, home.Path() + "/.config/tarnwick");
    EXPECT_EQ(location.LogsBaseDir, home.Path() + "/.local/share/tarnwick");
    EXPECT_TRUE(std::filesystem::is_directory(location.SettingsDir));
    EXPECT_TRUE(std::filesystem::is_directory(location.LogsBaseDir));

    const TSettingsLocation chosen = ResolveSettingsLocation(
        "/usr/bin",
        EnvOf({{"HOME", home.Path()}, {"XDG_CONFIG_HOME", home.File("cfg")}, {"XDG_DATA_HOME", home.File("d")}}),
        kInstalled);
    EXPECT_EQ(chosen.SettingsDir, home.File("cfg") + "/tarnwick");
    EXPECT_EQ(chosen.LogsBaseDir, home.File("d") + "/tarnwick");
    EXPECT_TRUE(std::filesystem::is_directory(chosen.LogsBaseDir));
}

TEST(SettingsLocation, RelativeXdgValuesAreIgnoredAndNoHomeKeepsFilesBesideTheExecutable) {
#ifdef _WIN32
    GTEST_SKIP() << "the XDG base folders are Linux's; Windows keeps the settings under APPDATA";
#endif
    TTempFolder home;
    const TSettingsLocation relative = ResolveSettingsLocation(
        "/usr/bin", EnvOf({{"HOME", home.Path()}, {"XDG_CONFIG_HOME", "cfg"}, {"XDG_DATA_HOME", "d"}}), kInstalled);
    EXPECT_EQ(relative.SettingsDir, home.Path() + "/.config/tarnwick");
    EXPECT_EQ(relative.LogsBaseDir, home.Path() + "/.local/share/tarnwick");

    const TSettingsLocation nothing = ResolveSettingsLocation("/usr/bin", EnvOf({}), kInstalled);
    EXPECT_EQ(nothing.SettingsDir, "/usr/bin");
    EXPECT_EQ(nothing.LogsBaseDir, "/usr/bin");
}

TEST(SettingsLocation, AWritableFolderIsPortableUnlessItIsTheBinOfAnInstallation) {
    TTempFolder root;
    std::filesystem::create_directories(root.File("bin"));
    EXPECT_TRUE(IsPortableFolder(root.File("bin")));
    EXPECT_FALSE(IsPortableFolder(root.File("missing")));
    std::filesystem::create_directories(root.File("share/tarnwick"));
    EXPECT_FALSE(IsPortableFolder(root.File("bin")));
}

TEST(HelpPage, BesideTheExecutableFirstThenTheInstalledOne) {
    TTempFolder root;
    const std::string bin = root.File("bin");
    std::filesystem::create_directories(bin);
    EXPECT_EQ(HelpPagePath(bin), bin + "/help.htm");  // neither: where it was looked for first

    std::filesystem::create_directories(root.File("share/tarnwick"));
    root.Write("share/tarnwick/help.htm", "installed");
    EXPECT_EQ(std::filesystem::path(HelpPagePath(bin)),
              std::filesystem::path(root.File("share/tarnwick/help.htm")).lexically_normal());

    root.Write("bin/help.htm", "beside");
    EXPECT_EQ(HelpPagePath(bin), bin + "/help.htm");
}

}  // namespace
}  // namespace tarnwick

// The start-up entry as a desktop file in a real folder.
#include "platform/linux/xdg_autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "common/temp_folder.h"

namespace tarnwick {
namespace {

using testing::TTempFolder;

std::string EntryWithExec(const std::string& exec) {
    return "[Desktop Entry]\nType=Application\nName=Tarnwick\nExec=" + exec + "\nX-GNOME-Autostart-enabled=true\n";
}

TEST(XdgAutostart, ExecQuotesWhatALauncherWouldSplitOrInterpret) {
    EXPECT_EQ(DesktopExecValue("/usr/bin/tarnwick"), "/usr/bin/tarnwick");
    EXPECT_EQ(DesktopExecValue("/opt/tw-1.01/bin_x/tarnwick"), "/opt/tw-1.01/bin_x/tarnwick");
    EXPECT_EQ(DesktopExecValue("/home/me/My Apps/tarnwick"), "\"/home/me/My Apps/tarnwick\"");
    EXPECT_EQ(DesktopExecValue("/opt/it's/tarnwick"), "\"/opt/it's/tarnwick\"");
    EXPECT_EQ(DesktopExecValue("/opt/a(1)&b;c/tarnwick"), "\"/opt/a(1)&b;c/tarnwick\"");
    // Inside quotes '"', '`' and '$' take a backslash; the key file then doubles every backslash.
    EXPECT_EQ(DesktopExecValue("/opt/\"q\"/`x`/$HOME"), R"("/opt/\\"q\\"/\\`x\\`/\\$HOME")");
    EXPECT_EQ(DesktopExecValue("/opt/back\\slash"), R"("/opt/back\\\\slash")");
    // '%' starts a field code, quoted or not.
    EXPECT_EQ(DesktopExecValue("/opt/100%/tarnwick"), "/opt/100%%/tarnwick");
    EXPECT_EQ(DesktopExecValue("/opt/100% sure"), "\"/opt/100%% sure\"");
    // A line break must not end the key's line.
    EXPECT_EQ(DesktopExecValue("/opt/a\nb\tc"), R"("/opt/a\nb\tc")");
}

TEST(XdgAutostart, EnableWritesOrReplacesTheEntryAndDisableRemovesIt) {
    TTempFolder folder;
    const std::string dir = folder.File("config/autostart");  // made when first needed
    TXdgAutostart autostart(dir);
    const std::string entry = dir + "/tarnwick.desktop";
    EXPECT_EQ(autostart.EntryPath("tarnwick"), entry);

    EXPECT_TRUE(autostart.Enable("tarnwick", "/opt/net tools/tarnwick"));
    EXPECT_EQ(folder.Read("config/autostart/tarnwick.desktop"), EntryWithExec("\"/opt/net tools/tarnwick\""));

    // Someone's edited entry (switched off, another program) is replaced whole.
    folder.Write("config/autostart/tarnwick.desktop",
                 "[Desktop Entry]\nExec=/bin/false\nX-GNOME-Autostart-enabled=false\nHidden=true\n");
    EXPECT_TRUE(autostart.Enable("tarnwick", "/usr/bin/tarnwick"));
    EXPECT_EQ(folder.Read("config/autostart/tarnwick.desktop"), EntryWithExec("/usr/bin/tarnwick"));
    // Nothing left behind by the replacement.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);

    folder.Write("config/autostart/other.desktop", "[Desktop Entry]\n");
    autostart.Disable("tarnwick");
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_TRUE(std::filesystem::exists(dir + "/other.desktop"));
    autostart.Disable("tarnwick");  // not there: no error
    TXdgAutostart(folder.File("nowhere")).Disable("tarnwick");
    EXPECT_FALSE(std::filesystem::exists(folder.File("nowhere")));
}

TEST(XdgAutostart, AFolderThatCannotBeUsedGivesTheFailureWithItsReason) {
    TTempFolder folder;
    const std::string context = "Failed to set data for 'tarnwick'";

    // The autostart folder is a file.
    folder.Write("autostart", "not a folder");
    TStatus enabled = TXdgAutostart(folder.File("autostart")).Enable("tarnwick", "/usr/bin/tarnwick");
    ASSERT_FALSE(enabled);
    EXPECT_EQ(enabled.Failure().Context, context);
    EXPECT_NE(enabled.Failure().Errno, 0);
    EXPECT_EQ(folder.Read("autostart"), "not a folder");

    // A file on the way to it.
    enabled = TXdgAutostart(folder.File("autostart/deeper")).Enable("tarnwick", "/usr/bin/tarnwick");
    ASSERT_FALSE(enabled);
    EXPECT_EQ(enabled.Failure().Context, context);

    // The entry's name is taken by a folder with something in it: the user is
    // told the system's reason after the context.
    std::filesystem::create_directories(folder.File("dir/tarnwick.desktop/x"));
    enabled = TXdgAutostart(folder.File("dir")).Enable("tarnwick", "/usr/bin/tarnwick");
    ASSERT_FALSE(enabled);
    EXPECT_EQ(enabled.Failure().Text(), context + ": " + std::error_code(EISDIR, std::generic_category()).message());
    TXdgAutostart(folder.File("dir")).Disable("tarnwick");  // leaves a folder alone
    EXPECT_TRUE(std::filesystem::exists(folder.File("dir/tarnwick.desktop/x")));
}

// Sets an environment variable for the life of the object.
class TEnvironment {
public:
    TEnvironment(const char* name, const char* value) : Name_(name) {
        if (const char* old = std::getenv(name)) Old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~TEnvironment() {
        if (Old_) ::setenv(Name_, Old_->c_str(), 1);
        else ::unsetenv(Name_);
    }

private:
    const char* Name_;
    std::optional<std::string> Old_;
};

TEST(XdgAutostart, DefaultFolderFollowsXdgConfigHomeElseHome) {
    TEnvironment home("HOME", "/home/someone");
    {
        TEnvironment config("XDG_CONFIG_HOME", "/srv/cfg");
        EXPECT_EQ(DefaultAutostartDir(), "/srv/cfg/autostart");
    }
    {
        TEnvironment config("XDG_CONFIG_HOME", "relative/cfg");  // invalid, so ignored
        EXPECT_EQ(DefaultAutostartDir(), "/home/someone/.config/autostart");
    }
    {
        TEnvironment config("XDG_CONFIG_HOME", "");
        EXPECT_EQ(DefaultAutostartDir(), "/home/someone/.config/autostart");
    }
    TEnvironment config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(DefaultAutostartDir(), "/home/someone/.config/autostart");
}

}  // namespace
}  // namespace tarnwick

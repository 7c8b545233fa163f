// Option.ini: defaults, malformed values, the written form, and where the file is.
#include "rules/options_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>  // mkfifo: Windows has no FIFOs
#endif

#include "common/ini_file.h"
#include "common/temp_folder.h"

namespace tarnwick {
namespace {

using testing::TTempFolder;

void ExpectDefaults(const TOptions& options) {
    EXPECT_TRUE(options.AutoRefresh);
    EXPECT_EQ(options.RefreshTime, 3);
    EXPECT_FALSE(options.Tray);
    EXPECT_FALSE(options.AutoStart);
    EXPECT_TRUE(options.AutoSaveLog);
    EXPECT_EQ(options.DataBuffer, 200);
}

TEST(OptionsFile, WithoutAReadableFileEverySettingHasItsDefault) {
    TTempFolder folder;
    ExpectDefaults(LoadOptionsFile(folder.File("Option.ini")));
    ExpectDefaults(LoadOptionsFile(folder.File("missing/Option.ini")));
    // Something that cannot be read as a file must not stop the window coming up.
    std::filesystem::create_directory(folder.File("Folder.ini"));
    ExpectDefaults(LoadOptionsFile(folder.File("Folder.ini")));
#ifndef _WIN32
    // Nor a FIFO that nobody writes to: it must not hang the start either.
    ASSERT_EQ(::mkfifo(folder.File("Fifo.ini").c_str(), 0600), 0);
    ExpectDefaults(LoadOptionsFile(folder.File("Fifo.ini")));
#endif
    // A file without the section, or with the keys elsewhere.
    ExpectDefaults(LoadOptionsFile(folder.Write("Other.ini", "RefreshTime=9\n[Options]\nTray=1\n")));
}

TEST(OptionsFile, ValuesAsTheIniRulesReadThemAndDefaultsForMalformedOnes) {
    TTempFolder folder;
    const TOptions read = LoadOptionsFile(folder.Write("Option.ini",
                                                       "[option]\n"
                                                       "autorefresh=0\n"
                                                       "RefreshTime = -7 \n"
                                                       "Tray=2\n"          // non-zero is true
                                                       "AutoStart=0x1\n"   // hexadecimal too
                                                       "AutoSaveLog=no\n"  // not a number: default
                                                       "DataBuffer=50\n"));  // not limited in the file
    EXPECT_FALSE(read.AutoRefresh);
    EXPECT_EQ(read.RefreshTime, -7);
    EXPECT_TRUE(read.Tray);
    EXPECT_TRUE(read.AutoStart);
    EXPECT_TRUE(read.AutoSaveLog);
    EXPECT_EQ(read.DataBuffer, 50);

    const TOptions malformed = LoadOptionsFile(folder.Write("Bad.ini",
                                                            "[Option]\nAutoRefresh=\nRefreshTime=3s\nTray=true\n"
                                                            "AutoStart=1.0\nDataBuffer=99999999999\n"));
    ExpectDefaults(malformed);
}

TEST(OptionsFile, SaveWritesTheSixKeysInOrderAndKeepsEverythingElse) {
    TTempFolder folder;
    const std::string path = folder.File("Option.ini");
    SaveOptionsFile(path, TOptions{});
    EXPECT_EQ(folder.Read("Option.ini"),
              "[Option]\nAutoRefresh=1\nRefreshTime=3\nTray=0\nAutoStart=0\nAutoSaveLog=1\nDataBuffer=200\n");

    folder.Write("Option.ini", "; mine\r\n[Window]\r\nLeft=10\r\n[Option]\r\nTray=1\r\nColour=blue\r\n");
    TOptions options;
    options.AutoRefresh = false;
    options.RefreshTime = -2147483647 - 1;
    options.Tray = false;
    options.AutoStart = true;
    options.AutoSaveLog = false;
    options.DataBuffer = 1000;
    SaveOptionsFile(path, options);
    // Known keys rewritten where they stand, new ones after the section's last key.
    EXPECT_EQ(folder.Read("Option.ini"),
              "; mine\r\n[Window]\r\nLeft=10\r\n[Option]\r\nTray=0\r\nColour=blue\r\nAutoRefresh=0\r\n"
              "RefreshTime=-2147483648\r\nAutoStart=1\r\nAutoSaveLog=0\r\nDataBuffer=1000\r\n");
    const TOptions back = LoadOptionsFile(path);
    EXPECT_FALSE(back.AutoRefresh);
    EXPECT_EQ(back.RefreshTime, options.RefreshTime);
    EXPECT_TRUE(back.AutoStart);
    EXPECT_FALSE(back.AutoSaveLog);
    EXPECT_EQ(back.DataBuffer, 1000);
}

TEST(OptionsFile, TheGridsFilterAndSortRoundTripAndAreWrittenOnlyOnceSet) {
    TTempFolder folder;
    const std::string path = folder.File("Option.ini");
    const std::string untouched = "[Option]\r\nTray=0\r\n";
    folder.Write("Option.ini", untouched);
    SaveGridViewOptions(path, TGridViewOptions{});
    EXPECT_EQ(folder.Read("Option.ini"), untouched);

    SaveGridViewOptions(path, TGridViewOptions{"\"ssh\" 443", "", false});
    EXPECT_EQ(folder.Read("Option.ini"), untouched + "GridFilter=\"ssh\" 443\r\n");
    const TGridViewOptions set{"\"ssh\" 443", "Remote Port", true};
    SaveGridViewOptions(path, set);
    EXPECT_EQ(LoadOptionsFile(path).GridView, set);
    EXPECT_EQ(folder.Read("Option.ini"), "[Option]\r\nTray=0\r\nGridFilter=\"ssh\" 443\r\n"
                                         "GridSortColumn=Remote Port\r\nGridSortOrder=Descending\r\n");

    // Cleared, the keys stay, empty; the Options dialog's save keeps them.
    SaveGridViewOptions(path, TGridViewOptions{"", "Process", false});
    SaveOptionsFile(path, LoadOptionsFile(path));
    EXPECT_EQ(LoadOptionsFile(path).GridView, (TGridViewOptions{"", "Process", false}));
    SaveGridViewOptions(path, TGridViewOptions{});
    EXPECT_EQ(LoadOptionsFile(path).GridView, TGridViewOptions{});
    EXPECT_NE(folder.Read("Option.ini").find("GridFilter=\r\nGridSortColumn=\r\nGridSortOrder=\r\n"),
              std::string::npos);
}

TEST(OptionsFile, AFailedSaveSaysWhichFileAndLeavesWhatIsThere) {
    TTempFolder folder;
    const std::string inMissingFolder = folder.File("gone/Option.ini");
    try {
        SaveOptionsFile(inMissingFolder, TOptions{});
        FAIL() << "saved into a missing folder";
    } catch (const TIniWriteError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + inMissingFolder);
    }
    // A folder where the file should be can be neither read nor replaced.
    std::filesystem::create_directory(folder.File("Option.ini"));
    EXPECT_THROW(SaveOptionsFile(folder.File("Option.ini"), TOptions{}), TIniWriteError);
    EXPECT_TRUE(std::filesystem::is_directory(folder.File("Option.ini")));
}

TEST(OptionsFile, PathFindsTheFileInAnyCase) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows's file names ignore case: no two files differ in case alone";
#endif
    TTempFolder folder;
    EXPECT_EQ(OptionsFilePath(folder.Path()), folder.File("Option.ini"));
    EXPECT_EQ(OptionsFilePath(folder.File("missing")), folder.File("missing/Option.ini"));

    std::filesystem::create_directory(folder.File("option.INI"));  // folders do not count
    EXPECT_EQ(OptionsFilePath(folder.Path()), folder.File("Option.ini"));
    folder.Write("option.ini", "");
    EXPECT_EQ(OptionsFilePath(folder.Path()), folder.File("option.ini"));
    folder.Write("OPTION.INI", "");  // first in byte order
    EXPECT_EQ(OptionsFilePath(folder.Path()), folder.File("OPTION.INI"));
    folder.Write("Option.ini", "");  // the exact name wins
    EXPECT_EQ(OptionsFilePath(folder.Path()), folder.File("Option.ini"));
}

}  // namespace
}  // namespace tarnwick

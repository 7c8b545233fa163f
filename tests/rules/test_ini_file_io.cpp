// INI files on disk: a missing file, one that cannot be read, and saves that
// replace the file in one step or leave it whole.
#include "rules/ini_file_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>  // file modes: POSIX
#endif

#include "common/temp_folder.h"

namespace tarnwick {
namespace {

using testing::TTempFolder;

TEST(IniFileDisk, MissingFileIsEmptyAndAFolderCannotBeRead) {
    TTempFolder folder;
    EXPECT_FALSE(LoadExistingIniFile(folder.File("none.ini")).has_value());
    EXPECT_FALSE(LoadExistingIniFile(folder.File("no/such/folder.ini")).has_value());
    EXPECT_EQ(LoadIniFile(folder.File("none.ini")).Text(), "");
    try {
        LoadIniFile(folder.Path());
        FAIL() << "a folder read as an INI file";
    } catch (const TIniReadError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to read " + folder.Path());
        EXPECT_EQ(error.Cause().Errno, EISDIR);
    }
}

#ifndef _WIN32
TEST(IniFileDisk, SaveReplacesTheFileAndKeepsItsPermissionsAndLinks) {
    TTempFolder folder;
    const std::string path = folder.Write("real.ini", "[S]\r\nA=1\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    std::filesystem::create_symlink("real.ini", folder.File("link.ini"));

    TIniFile ini = LoadIniFile(folder.File("link.ini"));
    ini.WriteString("S", "A", "2");
    SaveIniFile(ini, folder.File("link.ini"));

    EXPECT_EQ(folder.Read("real.ini"), "[S]\r\nA=2\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(folder.File("link.ini")));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // Nothing but the two names is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 2);

    TIniFile fresh;
    fresh.WriteInteger("S", "N", 5);
    SaveIniFile(fresh, folder.File("new.ini"));
    EXPECT_EQ(LoadIniFile(folder.File("new.ini")).ReadInteger("S", "N", 0), 5);
}
#endif

TEST(IniFileDisk, FailedSaveLeavesTheOldFileWholeAndNamesTheFile) {
    TTempFolder folder;
    TIniFile ini;
    ini.WriteString("S", "A", "new");

    const std::string missingFolder = folder.File("gone/rules.dat");
    try {
        SaveIniFile(ini, missingFolder);
        FAIL() << "saved into a folder that does not exist";
    } catch (const TIniWriteError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + missingFolder);
        EXPECT_EQ(error.Cause().Errno, ENOENT);
    }

    // A folder where the file should be: the rename over it fails, after the
    // text was written in full, so the temporary file must be cleared away.
    std::filesystem::create_directory(folder.File("rules.dat"));
    folder.Write("rules.dat/inside", "old contents");
    EXPECT_THROW(SaveIniFile(ini, folder.File("rules.dat")), TIniWriteError);
    EXPECT_EQ(folder.Read("rules.dat/inside"), "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

}  // namespace
}  // namespace tarnwick

// The location database through libloc: what a file that is not there, or
// no database, fails with; the database's day of creation as the library's
// own command gives it; and a file an update put in its place.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "common/temp_folder.h"
#include "platform/linux/linux_location_lookup.h"

namespace tarnwick {
namespace {

// What `command` prints, without its last line end; empty when it cannot run.
std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(LinuxLocationLookup, AMissingFileOrOneThatIsNoDatabaseFailsNamingIt) {
    testing::TTempFolder folder;
    const auto missing = OpenLocationDatabase(folder.File("none.db"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.Failure(), (TFailure{ENOENT, "reading the location database " + folder.File("none.db")}));
    const std::string text = folder.Write("text.db", "not a database, only some text\n");
    const auto wrong = OpenLocationDatabase(text);
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.Failure().Text(), "reading the location database " + text + ": not a location database");
    EXPECT_EQ(LocationDatabasePath([](const std::string&) { return std::nullopt; }), "/var/lib/location/database.db");
}

TEST(LinuxLocationLookup, TheDatabaseIsOfTheDayTheLocationCommandSaysAndAFileInItsPlaceReplacesIt) {
    const std::string installed = LocationDatabasePath([](const std::string&) { return std::nullopt; });
    if (access(installed.c_str(), R_OK) != 0) GTEST_SKIP() << "no location database at " << installed;
    const std::string version = Output("location --database " + installed + " version 2>/dev/null");
    if (version.empty()) GTEST_SKIP() << "no `location` command (Debian package location)";

    testing::TTempFolder folder;
    const std::string path = folder.File("database.db");
    std::filesystem::create_symlink(installed, path);
    auto opened = OpenLocationDatabase(path);
    ASSERT_TRUE(opened) << opened.Failure().Text();
    TLocationLookup& lookup = **opened;
    const std::time_t made = std::chrono::system_clock::to_time_t(lookup.Database().CreatedAt);
    std::tm utc{};
    gmtime_r(&made, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    EXPECT_EQ(text, version);
    EXPECT_EQ(lookup.Database().Path, path);

    EXPECT_FALSE(lookup.Replaced());
    std::filesystem::remove(path);
    EXPECT_FALSE(lookup.Replaced());  // gone: the open one still answers
    folder.Write("database.db", "a download under way\n");
    EXPECT_TRUE(lookup.Replaced());
}

}  // namespace
}  // namespace tarnwick

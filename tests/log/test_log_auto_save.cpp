// The automatic log save: its folder, its file name and its failures.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "common/temp_folder.h"
#include "log/local_time.h"
#include "log/log_auto_save.h"

namespace tarnwick {
namespace {

using testing::LocalTime;

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(LogAutoSaveName, DatePaddedAndNumberOfThreeDigits) {
    std::tm day{};
    day.tm_year = 2026 - 1900;
    day.tm_mon = 11;
    day.tm_mday = 6;
    EXPECT_EQ(AutoSaveLogFileName(day, 47), "Log20261206-047.htm");
    EXPECT_EQ(AutoSaveLogFileName(day, 0), "Log20261206-000.htm");
    EXPECT_EQ(AutoSaveLogFileName(day, 999), "Log20261206-999.htm");
    day.tm_year = 99 - 1900;  // year 99: four digits still
    day.tm_mon = 0;
    day.tm_mday = 1;
    EXPECT_EQ(AutoSaveLogFileName(day, 5), "Log00990101-005.htm");
}

TEST(LogAutoSaveName, NumberSeededFromTheClockStaysInRange) {
    const auto now = LocalTime(2026, 12, 6, 10, 0, 0);
    EXPECT_EQ(DrawLogFileNumber(now), DrawLogFileNumber(now));  // seeded afresh each time
    bool differs = false;
    for (int ms = 0; ms < 2000; ++ms) {
        const int n = DrawLogFileNumber(now + std::chrono::milliseconds(ms));
        ASSERT_GE(n, 0);
        ASSERT_LE(n, 999);
        differs |= n != DrawLogFileNumber(now);
    }
    EXPECT_TRUE(differs);
}

class LogAutoSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::setlocale(LC_TIME, "C");
        Context.BaseDirectory = Base.string();
        Context.Clock = [this] { return Now; };
        Context.DrawNumber = [](std::chrono::system_clock::time_point) { return 47; };
        Context.HostText = [] { return std::string("WS01(192.168.0.5)"); };
        Log.AutoSaver = MakeLogAutoSaver(Context, [this](const std::string& message) { Shown.push_back(message); });
    }

    testing::TTempFolder Folder;
    std::filesystem::path Base{Folder.Path()};
    std::chrono::system_clock::time_point Now = LocalTime(2026, 12, 6, 9, 5, 3);
    TLogAutoSaveContext Context;
    TEventLog Log{[this] { return Now; }};
    std::vector<std::string> Shown;
};

TEST_F(LogAutoSaveTest, The1001stEntryWritesEveryLineToTheDatedFileAndEmptiesTheLog) {
    for (int i = 1; i <= 1000; ++i) Log.AddLog("entry " + std::to_string(i), lkConnect);
    const auto file = Base / "Logs" / "Log20261206-047.htm";
    EXPECT_FALSE(std::filesystem::exists(Base / "Logs"));
    Log.AddLog("entry 1001", lkDisconnect);

    ASSERT_TRUE(std::filesystem::is_regular_file(file));
    const std::string page = Read(file);
    EXPECT_NE(page.find("<H3><font color=#FFFFFF>WS01(192.168.0.5)</font></H3><br>\r\n"), std::string::npos);
    EXPECT_NE(page.find("<font color=#FFFFFF>Time:..............12/06/26 09:05:03</font><br>\r\n"),
              std::string::npos);
    size_t rows = 0;
    for (size_t at = page.find("<tr>"); at != std::string::npos; at = page.find("<tr>", at + 1)) ++rows;
    EXPECT_EQ(rows, 1001u);
    EXPECT_NE(page.find(">12/06/26 09:05:03    entry 1</font>"), std::string::npos);
    EXPECT_NE(page.find("<font size=2 color=#00FFFF>12/06/26 09:05:03    entry 1001</font></td></tr>\r\n</table>"),
              std::string::npos);

    ASSERT_EQ(Log.Count(), 1u);
    EXPECT_EQ(Log.Entry(0).Line, "12/06/26 09:05:03    Auto Save and Clear Log.");
    EXPECT_TRUE(Shown.empty());
}

TEST_F(LogAutoSaveTest, AnExistingFileOfThatNameIsKeptAndTheNextFreeNumberTaken) {
    std::filesystem::create_directories(Base / "Logs");
    std::ofstream(Base / "Logs" / "Log20261206-047.htm") << "an earlier save";
    std::filesystem::create_directory(Base / "Logs" / "Log20261206-048.htm");  // anything there takes the name
    Log.AddLog("one", lkInfo);
    const TResult<std::string> saved = AutoSaveLogFile(Log, Context);
    ASSERT_TRUE(saved) << saved.Failure().Text();
    EXPECT_EQ(*saved, (Base / "Logs" / "Log20261206-049.htm").string());
    EXPECT_EQ(Read(*saved).rfind("<HTML>\r\n", 0), 0u);
    EXPECT_EQ(Read(Base / "Logs" / "Log20261206-047.htm"), "an earlier save");
}

TEST_F(LogAutoSaveTest, ThousandsOfSavesInADayEachGetAFileOfTheirOwn) {
    // Numbers drawn as the clock would give them, repeats and all; every
    // save's log names itself, so a replaced save would show.
    constexpr int kSaves = 2000;
    std::minstd_rand draw(7);
    Context.DrawNumber = [&draw](std::chrono::system_clock::time_point) { return static_cast<int>(draw() % 1000); };
    std::set<std::string> paths;
    for (int save = 0; save < kSaves; ++save) {
        TEventLog log{[this] { return Now; }};
        log.AddLog("save " + std::to_string(save) + ".", lkInfo);
        const TResult<std::string> saved = AutoSaveLogFile(log, Context);
        ASSERT_TRUE(saved) << saved.Failure().Text();
        paths.insert(*saved);
    }
    ASSERT_EQ(paths.size(), size_t{kSaves});
    for (const char* name : {"Log20261206-000.htm", "Log20261206-999.htm", "Log20261206-1000.htm",
                             "Log20261206-1999.htm"})  // past 999 the number grows a digit, from 1000 up
        EXPECT_TRUE(paths.contains((Base / "Logs" / name).string())) << name;
    // Each save's own log is in its file.
    std::set<std::string> saved;
    for (const auto& entry : std::filesystem::directory_iterator(Base / "Logs")) {
        const std::string page = Read(entry.path());
        const size_t at = page.find(" save ");
        ASSERT_NE(at, std::string::npos) << entry.path();
        saved.insert(page.substr(at, page.find('<', at) - at));
    }
    EXPECT_EQ(saved.size(), size_t{kSaves});
}

TEST_F(LogAutoSaveTest, FailuresKeepEveryEntryAndAreReportedOncePerRun) {
    std::ofstream(Base / "Logs") << "a file where the folder belongs";
    for (int i = 1; i <= 1001; ++i) Log.AddLog("entry", lkConnect);
    EXPECT_EQ(Log.Count(), 1001u);
    ASSERT_EQ(Shown.size(), 1u);
    const std::string named = "Cannot create file \"" + (Base / "Logs" / "Log20261206-047.htm").string() + "\". ";
#ifdef _WIN32
    EXPECT_EQ(Shown[0].substr(0, named.size()), named);  // the reason in Windows's own words
#else
    EXPECT_EQ(Shown[0], named + "Not a directory");
#endif

    // Every further line tries again, quietly.
    for (int i = 0; i < 50; ++i) Log.AddLog("entry", lkConnect);
    EXPECT_EQ(Log.Count(), 1051u);
    EXPECT_EQ(Shown.size(), 1u);

    // The options applied again: the next failure is news.
    Log.ResetAutoSaveErrorReport();
    Log.AddLog("entry", lkConnect);
    Log.AddLog("entry", lkConnect);
    EXPECT_EQ(Shown.size(), 2u);

    std::filesystem::remove(Base / "Logs");  // now the folder can be made
    Log.AddLog("entry", lkConnect);
    EXPECT_EQ(Log.Count(), 1u);

    // A save succeeded: the first failure of a new run is reported.
    std::filesystem::remove_all(Base / "Logs");
    std::ofstream(Base / "Logs") << "in the way again";
    for (int i = 0; i < 1002; ++i) Log.AddLog("entry", lkConnect);
    EXPECT_EQ(Log.Count(), 1003u);
    EXPECT_EQ(Shown.size(), 3u);
}

TEST_F(LogAutoSaveTest, HostTextFailureWritesNothing) {
    Context.HostText = []() -> std::string { throw TReportError("The host name is empty."); };
    Log.AddLog("one", lkInfo);
    const TResult<std::string> saved = AutoSaveLogFile(Log, Context);
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.Failure().Text(), "The host name is empty.");
    EXPECT_TRUE(std::filesystem::is_empty(Base / "Logs"));
}

}  // namespace
}  // namespace tarnwick

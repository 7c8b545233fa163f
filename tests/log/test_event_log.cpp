// Log lines, their stamps and the automatic save at the size limit.
#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <string>
#include <vector>

#include "log/local_time.h"
#include "log/event_log.h"
#include "log/time_stamp.h"

namespace tarnwick {
namespace {

using testing::LocalTime;

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_TIME, "C"); }
    std::chrono::system_clock::time_point Now = LocalTime(2026, 12, 7, 9, 5, 3);
    TEventLog Log{[this] { return Now; }};
};

TEST_F(EventLogTest, LineIsStampFourBlanksAndTextInOrder) {
    Log.AddLog("first", lkConnect);
    Log.AddLog("second", lkRule);
    ASSERT_EQ(Log.Count(), 2u);
    EXPECT_EQ(Log.Entry(0).Line, "12/07/26 09:05:03    first");
    EXPECT_EQ(Log.Entry(0).Kind, lkConnect);
    EXPECT_EQ(Log.Entry(1).Line, "12/07/26 09:05:03    second");
}

TEST_F(EventLogTest, MidnightShowsTheDateAlone) {
    Now = LocalTime(2026, 12, 8, 0, 0, 0);
    Log.AddLog("tick", lkInfo);
    EXPECT_EQ(Log.Entry(0).Line, "12/08/26    tick");
    Now = LocalTime(2026, 12, 8, 0, 0, 1);
    Log.AddLog("tock", lkInfo);
    EXPECT_EQ(Log.Entry(1).Line, "12/08/26 00:00:01    tock");
}

TEST_F(EventLogTest, The1001stEntrySavesTheWholeLogAndStartsAfresh) {
    size_t savedCount = 0;
    Log.AutoSaver = [&](const TEventLog& log) {
        savedCount = log.Count();
        return true;
    };
    for (int i = 0; i < 1000; ++i) Log.AddLog("entry", lkConnect);
    EXPECT_EQ(savedCount, 0u);
    Log.AddLog("the one too many", lkDisconnect);
    EXPECT_EQ(savedCount, 1001u);
    ASSERT_EQ(Log.Count(), 1u);
    EXPECT_EQ(Log.Entry(0).Line, "12/07/26 09:05:03    Auto Save and Clear Log.");
    EXPECT_EQ(Log.Entry(0).Kind, lkInfo);
}

TEST_F(EventLogTest, FailedSaveKeepsEveryEntryAndRetriesOnTheNext) {
    int attempts = 0;
    Log.AutoSaver = [&](const TEventLog&) { return ++attempts >= 2; };
    for (int i = 0; i < 1001; ++i) Log.AddLog("entry", lkConnect);
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(Log.Count(), 1001u);
    Log.AddLog("again", lkConnect);
    EXPECT_EQ(attempts, 2);
    EXPECT_EQ(Log.Count(), 1u);
}

TEST_F(EventLogTest, WithAutoSaveOffTheLogKeepsGrowing) {
    bool saved = false;
    Log.AutoSaver = [&](const TEventLog&) { return saved = true; };
    Log.AutoSaveLog = false;
    for (int i = 0; i < 1002; ++i) Log.AddLog("entry", lkConnect);
    EXPECT_FALSE(saved);
    EXPECT_EQ(Log.Count(), 1002u);
}

TEST_F(EventLogTest, WithoutKeepingEntriesEachIsOnlyHandedOn) {
    std::vector<std::string> handed;
    Log.OnAdded = [&](const TLogEntry& entry) { handed.push_back(entry.Line); };
    Log.KeepEntries = false;
    for (int i = 0; i < 1002; ++i) Log.AddLog("entry", lkConnect);
    EXPECT_EQ(handed.size(), 1002u);
    EXPECT_EQ(handed.back(), "12/07/26 09:05:03    entry");
    EXPECT_EQ(Log.Count(), 0u);
}

TEST(TimeStampTest, FollowsTheLocaleDateAndTimeFormats) {
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 0;
    tm.tm_mday = 2;
    tm.tm_hour = 13;
    tm.tm_min = 4;
    tm.tm_sec = 5;
    std::setlocale(LC_TIME, "C");
    EXPECT_EQ(FormatTimeStamp(tm), "01/02/26 13:04:05");
}

}  // namespace
}  // namespace tarnwick

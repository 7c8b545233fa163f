// The words on the location database: its day and age, in whole days.
#include <gtest/gtest.h>

#include "monitor/location_cache.h"
#include "monitor/location_texts.h"

namespace tarnwick {
namespace {

TEST(LocationTexts, TheDatabaseIsNamedWithItsDayOfCreationAndItsAgeInDays) {
    using namespace std::chrono;
    const TLocationDatabase database{"/var/lib/location/database.db",
                                     sys_days(2022y / October / 29) + hours(23) + minutes(30)};
    const auto now = sys_days(2022y / November / 1) + hours(1);
    EXPECT_EQ(LocationDatabaseText(database, now),
              "Countries and networks come from the location database /var/lib/location/database.db of "
              "2022-10-29, 3 days old.");
    EXPECT_NE(LocationDatabaseText(database, sys_days(2022y / October / 30)).find("of 2022-10-29, 1 day old."),
              std::string::npos);
    EXPECT_NE(LocationDatabaseText(database, database.CreatedAt).find("made today"), std::string::npos);
}

TEST(LocationTexts, TheNetworkNamesItsOwnerWhereKnownAndTheTooltipFallsBackToTheCode) {
    TConnectionRow row;
    row.Key = TConnectionKey{};
    row.Location = InternLocation({"EU", "", 64512, ""});
    EXPECT_EQ(LocationCellText(row, 1), "AS64512");
    EXPECT_EQ(LocationToolTip(row), "EU\nAS64512");
    row.Location = InternLocation({"DE", "Germany", 0, ""});
    EXPECT_EQ(LocationCellText(row, 1), "-");
    EXPECT_EQ(LocationToolTip(row), "Germany");
}

}  // namespace
}  // namespace tarnwick

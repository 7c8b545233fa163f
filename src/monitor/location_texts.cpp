#include "monitor/location_texts.h"

#include <cstdio>

namespace tarnwick {

std::string NetworkText(const TLocation& location) {
    if (location.Asn == 0) return {};
    std::string text = "AS" + std::to_string(location.Asn);
    if (!location.AsName.empty()) text += " " + location.AsName;
    return text;
}

std::string LocationCellText(const TConnectionRow& row, int column) {
    if (!row.Key) return {};
    std::string text;
    if (row.Location) text = column == 0 ? row.Location->CountryCode : NetworkText(*row.Location);
    return text.empty() ? "-" : text;
}

std::string LocationToolTip(const TConnectionRow& row) {
    if (!row.Location) return {};
    const TLocation& location = *row.Location;
    std::string text = location.CountryName.empty() ? location.CountryCode : location.CountryName;
    const std::string network = NetworkText(location);
    if (!text.empty() && !network.empty()) text += '\n';
    return text + network;
}

std::string LocationDatabaseText(const TLocationDatabase& database, std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    const sys_days made = floor<days>(database.CreatedAt);
    const year_month_day day(made);
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02u-%02u", static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                  static_cast<unsigned>(day.day()));
    const long long age = (floor<days>(now) - made).count();
    const std::string ageText = age <= 0 ? "made today" : std::to_string(age) + (age == 1 ? " day old" : " days old");
    return "Countries and networks come from the location database " + database.Path + " of " + date + ", " +
           ageText + ".";
}

std::string LocationDatabaseNote(const TFailure& failure) {
    return "No countries and networks: " + failure.Text() +
           " (Debian package libloc-database; `location update` keeps it fresh)";
}

}  // namespace tarnwick

// Texts of where remote addresses are: the grid's Country and Network
// columns, the remote address's tooltip, and the words on the location
// database for the help page and the notes of the window and the command line.
#pragma once

#include <array>
#include <chrono>
#include <string>
#include <string_view>

#include "common/result.h"
#include "monitor/connection_row.h"
#include "platform/location_lookup.h"

namespace tarnwick {

// The columns the grid adds after Process while locations are shown.
inline constexpr int kLocationColumnCount = 2;
inline constexpr std::array<std::string_view, kLocationColumnCount> kLocationHeaders{"Country", "Network"};

// The network as the Network column writes it: "AS3320 Deutsche Telekom AG",
// "AS3320" where the database names no owner; empty without a number.
std::string NetworkText(const TLocation& location);

// Location column `column` (0 Country: the two-letter code, 1 Network) of
// data row `row`: "-" for what is not known (an address that is not public,
// or that the database holds nothing on, UDP rows); empty for a row without
// an entry (the blank row of an empty grid).
std::string LocationCellText(const TConnectionRow& row, int column);

// The tooltip of a located remote address: the country's name (its code
// where the database names none), then the network on a line of its own.
// Empty when nothing is known.
std::string LocationToolTip(const TConnectionRow& row);

// The database in words for the help page: "Countries and networks come from
// the location database /var/lib/location/database.db of 2022-10-29, 1136
// days old." (its day of creation in UTC).
std::string LocationDatabaseText(const TLocationDatabase& database, std::chrono::system_clock::time_point now);

// The one-line note of a database that cannot be read, in the window's
// status line and on the command line's standard error.
std::string LocationDatabaseNote(const TFailure& failure);

}  // namespace tarnwick

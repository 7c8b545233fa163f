// Locations from IPFire's location database through its library, libloc
// (Debian: libloc1; the data in libloc-database, kept fresh by the
// `location update` command of the package `location`).
#pragma once

#include <memory>
#include <string>

#include "platform/program_environment.h"
#include "platform/location_lookup.h"

namespace tarnwick {

// Where `location update` keeps the database, and so where the library's own
// tools read it: /var/lib/location/database.db. $TARNWICK_LOCATION_DATABASE,
// when set, names another file instead.
std::string LocationDatabasePath(const TEnvLookup& env = ProcessEnvironment);

// Opens the database at `path`. Fails, naming the file, when it cannot be
// opened (errno) or is no location database the library can read.
TResult<std::unique_ptr<TLocationLookup>> OpenLocationDatabase(const std::string& path);

}  // namespace tarnwick

// tarnwick-cli locate: the country and network of addresses, as the location
// columns of the grid and of `table --location` show them.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

// Prints one line per address of `addresses`, in their order: the address
// as given, the country code, the AS number and the AS name, separated by
// tabs, "-" for what is not known (not a public address, or not in the
// database). An address that is neither dotted IPv4 nor IPv6 is said on
// standard error and makes the exit status 1; the others are still printed.
// A database that cannot be read is a note on standard error: every field is
// "-" then, and the status stays 0.
int RunLocateCommand(const std::vector<std::string>& addresses);

}  // namespace tarnwick

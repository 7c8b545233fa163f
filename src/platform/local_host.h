// This computer as a report's heading names it: its host name and the IPv4
// addresses that name resolves to.
#pragma once

#include <string>
#include <vector>

#include "common/result.h"

namespace tarnwick {

struct TLocalHost {
    std::string Name;                        // as the system gives it; may be empty
    std::vector<std::string> Ipv4Addresses;  // dotted, in the resolver's order; none when unresolved
};

// Fails (ENAMETOOLONG) for a name of more than 63 characters, as for one that
// cannot be read. Resolving the name may take as long as the resolver does.
TResult<TLocalHost> ReadLocalHost();

}  // namespace tarnwick

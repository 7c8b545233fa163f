// Finding files whose names are matched without regard to ASCII case, as
// the settings files beside the executable are ("Rules.dat", "rules.dat").
#pragma once

#include <string>

namespace tarnwick {

// The path of the file `name` in `folder`: the exact name when it exists,
// else the first (in byte order) name that equals it ignoring ASCII case,
// else the exact name (where a new file would go). Folders are passed over,
// the exact name's too.
std::string FindFileIgnoringCase(const std::string& folder, const std::string& name);

}  // namespace tarnwick

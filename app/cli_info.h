// tarnwick-cli info: the executable of a process and its version fields.
#pragma once

#include <cstdint>

namespace tarnwick {

// Prints the executable path of process `pid`, then the eight fields of the
// process information dialog in its order, one "Caption value" line each
// ("Product Name: coreutils"). Returns 1 with "Can't Found Process EXE File!"
// on standard error when the path cannot be found.
int RunInfoCommand(uint32_t pid);

}  // namespace tarnwick

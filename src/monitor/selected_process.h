// The owning process of the connection shown in a grid row.
#pragma once

#include <cstdint>
#include <optional>

#include "monitor/connection_snapshot.h"

namespace tarnwick {

// The owning process id of the entry behind grid row `gridRow` (data rows
// from 1; the grid lists the shown TCP rows, then the shown UDP rows). nullopt
// when the snapshot holds no process ids (the plain tables) or the row shows
// no entry, as the header and the blank row of an empty grid do.
std::optional<uint32_t> SelectedProcessId(int gridRow, bool tcpShown, bool udpShown,
                                          const ConnectionSnapshot& snapshot);

}  // namespace tarnwick

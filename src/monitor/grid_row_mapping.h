// Which snapshot row a data row of the connection grid shows. The grid lists
// the TCP rows first (when shown), then the UDP rows (when shown), each in
// table order under the header row 0.
#pragma once

#include <cstdint>
#include <optional>

#include "monitor/connection_snapshot.h"

namespace tarnwick {

struct TSnapshotRowRef {
    bool Tcp = true;     // a TCP row, else a UDP row
    uint32_t Index = 0;  // row of that table, from 0
    bool operator==(const TSnapshotRowRef&) const = default;
};

// The snapshot row behind grid row `gridRow` (data rows from 1). With shownTcp
// the TCP row count when TCP rows are shown and 0 otherwise, row r is TCP row
// r - 1 while r <= shownTcp, else UDP row r - 1 - shownTcp. nullopt when r is
// the header or names no row the grid shows, as the blank row of an empty grid
// does (with UDP rows hidden, rows past the TCP rows show nothing).
// With the IPv6 rows hidden, the last rows of each table (its IPv6 rows)
// are left out of the grid.
std::optional<TSnapshotRowRef> SnapshotRowOfGridRow(int gridRow, bool tcpShown, bool udpShown,
                                                    const ConnectionSnapshot& snapshot, bool ipv6Shown = true);

// How many rows of each table the grid lists under these view switches.
uint32_t ShownTcpRows(const ConnectionSnapshot& snapshot, bool tcpShown, bool ipv6Shown);
uint32_t ShownUdpRows(const ConnectionSnapshot& snapshot, bool udpShown, bool ipv6Shown);

}  // namespace tarnwick

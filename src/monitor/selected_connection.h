// The connection behind a selected grid row, as the user sees it: the
// commands on a row (close, capture, process information) decide what they
// may do from the row shown, and act on the entry with that row's identity in
// the current tables. The window's menus and commands and the command-line
// tool share these rules.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/result.h"
#include "monitor/connection_row.h"
#include "monitor/connection_snapshot.h"
#include "monitor/socket_owner_map.h"

namespace tarnwick {

inline constexpr const char* kConnectionGone = "The selected connection no longer exists.";

// The commands a row offers in the grid's menu: closing for an established
// TCP connection, capturing for one of those or a UDP port. Judged from the
// texts shown, so the menu agrees with what the user reads; a row that shows
// no connection (none selected, the blank row) offers neither.
struct TRowCommands {
    bool Kill = false;
    bool Capture = false;
};
TRowCommands AvailableRowCommands(const TConnectionRow* shown);

// The program that owns the connection `shown` displays, by the process name
// the row shows, so that every process of that name is taken (the workers of
// a server as its listener's); nullopt when the row shows no connection or
// names no owner (an empty name, or "?").
std::optional<TProgramSelector> ShownProgram(const TConnectionRow* shown);

// The current entry of the connection that `shown` displays; nullopt when the
// row shows none or the connection has gone since it was drawn.
std::optional<TFoundConnection> FindShownConnection(const ConnectionSnapshot& snapshot, const TConnectionRow* shown);

// The executable of the process that owns the connection `shown` displays,
// as `exePathOf` tells it, or why there is none (NoExe also when `exePathOf`
// fails).
struct TShownProcessExe {
    enum class TProblem { None, Gone, NoExe };
    TProblem Problem = TProblem::None;
    std::string Path;
};
TShownProcessExe ShownProcessExe(const ConnectionSnapshot& snapshot, const TConnectionRow* shown,
                                 const std::function<TResult<std::string>(uint32_t pid)>& exePathOf);

}  // namespace tarnwick

// The names the monitor shows for the TCP states: the grid's Status column,
// the log's events, the command line's tables.
#pragma once

#include <string_view>

#include "platform/tcp_state.h"

namespace tarnwick {

// The name of `state`; a value outside the enumeration reads "Unknown".
std::string_view TcpStateName(TTcpState state);

}  // namespace tarnwick

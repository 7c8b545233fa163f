// The end of a connection that sent a reset, named by the other end.
//
// Before the system announces the end of a socket that sent a reset, it
// clears the socket's local address and remote port (a disconnect forgets
// the connection), keeping its local port and remote address: the notice
// reads "0.0.0.0:<port> -> <address>:0". When the other end of the connection
// is a socket of this machine too (loopback, or a local address), that end
// names the two fields cleared: its remote port is our local port, its local
// address is our remote address, and the other way round. A connection to
// another machine has no such end, and stays unnamed.
#pragma once

#include <optional>
#include <span>

#include "monitor/connection_key.h"
#include "platform/ip_tables.h"

namespace tarnwick {

// Whether `row` is the end of a socket that sent a reset: its remote port cleared.
bool IsResetEnd(const TTcpRow& row);

// `reset` with its local address and remote port taken from the one of `peers`
// (ends of this machine's connections) that faces it; nullopt when none does,
// or when several would name it differently (a client port used towards two
// servers on one address), since a guess could blame the wrong connection.
std::optional<TTcpRow> NameResetEnd(const TTcpRow& reset, std::span<const TConnectionKey> peers);

}  // namespace tarnwick

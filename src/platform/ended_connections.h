// TCP connections the system reports as ended, whether or not any refresh
// ever saw them: a connection that opens and closes between two refreshes is
// in neither table, yet it is often the one a watcher wants to see (a beacon,
// a quick probe, a failed login).
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/ip_tables.h"

namespace tarnwick {

// One connection that ended. Row carries its identity as the tables' rows do
// (local and remote address and port, the interface of an IPv6 one, and the
// socket's cookie, which every table row of the socket carried too) and its
// last byte counters, unknown where the system gave none or a reset cleared
// them; its State is the one it ended in and its OwningPid is 0, since the
// socket is gone and with it any way to name its process. Its Inode is that
// of the descriptor still holding it, mostly 0 (a closed socket has none).
// The ends of a socket that sent a reset are zeroed (local address and remote
// port 0), so only its cookie names it then. Nor is its user known:
// Linux leaves the user of a destroyed socket out of its notice (the uid
// field reads 0 whoever owned it), so none is passed on as if it were.
struct TEndedConnection {
    TTcpRow Row;
    std::chrono::system_clock::time_point EndedAt{};
    // False for a connect that never completed its handshake (never answered,
    // or refused): an attempt, not a connection. True when unknown.
    bool WasEstablished = true;
};

struct TEndedTake {
    std::vector<TEndedConnection> Connections;  // in the order they ended
    // Connections that ended but were not kept: counted past the source's
    // bound, or lost by the system without a count (then Lost is set).
    uint64_t Dropped = 0;
    bool Lost = false;
};

class TEndedConnections {
public:
    virtual ~TEndedConnections() = default;

    // False when the system does not report ended connections to this
    // process (no privilege for it, an old kernel): takes are always empty.
    virtual bool Active() const = 0;

    // Everything that ended since the last take, and what was dropped since.
    virtual TEndedTake TakeEnded() = 0;
};

}  // namespace tarnwick

// The sockets whose connection was logged as gone. A socket leaves the tables
// before the system announces its end whenever a descriptor still holds it
// (after a reset, or a kill, the announcement waits for the program's
// close, which may be minutes later), so an announcement can come long after
// the refresh that said it was gone; this keeps such an end from being
// reported a second time, as a connection never listed.
//
// Kept by socket cookie until the socket's announcement comes (a socket is
// announced once) or, failing that, until 65,536 newer ones push it out,
// oldest first: about 3 MB at most, whatever the time a program keeps a
// dead socket open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>

#include "monitor/log_connection.h"

namespace tarnwick {

class TRecentlyGone {
public:
    static constexpr size_t kDefaultBound = 65536;

    explicit TRecentlyGone(size_t bound = kDefaultBound) : Bound_(bound) {}

    // `unconnected`: the connection as last seen when no "Connected" line was
    // logged for it (seen only in Syn_Sent), so that the announcement, which
    // tells whether its handshake completed, can still give it one.
    void Add(uint64_t cookie, std::optional<TLogConnection> unconnected = std::nullopt);

    // Forgets `cookie` (its announcement came) and tells whether it was kept,
    // with its unconnected connection if it had one.
    bool Take(uint64_t cookie, std::optional<TLogConnection>& unconnected);

    size_t Count() const { return Kept_.size(); }

private:
    size_t Bound_;
    std::deque<uint64_t> Order_;  // oldest first; may name cookies already taken
    std::unordered_map<uint64_t, std::optional<TLogConnection>> Kept_;
};

}  // namespace tarnwick

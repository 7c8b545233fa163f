// Host names of addresses, looked up in the background and remembered.
//
// Reverse lookups can take seconds each, and a refresh may meet hundreds of new
// addresses, so they run on a small pool of worker threads and are remembered:
//   - Resolve hands every address without a fresh answer to the pool and
//     waits until those are answered or the budget is spent, whichever comes
//     first. An address already being looked up for an earlier call is neither
//     asked nor waited for again.
//   - Answers that come after the budget are still stored, for Find and
//     later calls.
//   - Names and failures are both remembered, each for its own time to live.
//     When a name expires it is asked for again; until the new answer comes,
//     Find keeps showing the old name rather than flickering to nothing.
//   - 0.0.0.0 and :: are never looked up.
//   - IPv6 addresses (Resolve6, Find6) go through the same pool, cache, time
//     to live and budget rules. An IPv4-mapped IPv6 address (::ffff:a.b.c.d)
//     is the IPv4 address it maps: one entry, one lookup.
//
// The workers share their state with this object through a shared pointer and
// are detached: the destructor only tells them to stop, it never waits for a
// lookup stuck inside the resolver. A worker busy in the resolver finishes that
// call and then exits; whatever the resolver captures must stay valid until then.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/inet_address.h"

namespace tarnwick {

// Looks up the host name of an address field (network byte order, see
// inet_address.h), or of an IPv6 address; nullopt when the address has no
// name. Called from the worker threads, several at once.
using THostResolver = std::function<std::optional<std::string>(uint32_t addr)>;
using THost6Resolver = std::function<std::optional<std::string>(const TIp6Address& addr)>;

// Host names longer than this are cut to it.
inline constexpr size_t kMaxHostNameLength = 255;

// The worker pool and the answers, shared with the workers (defined in the .cpp).
class THostNamePool;

class THostNames {
public:
    // At most `workers` lookups at once (at least one).
    THostNames(THostResolver resolver, THost6Resolver resolver6, std::chrono::milliseconds nameTtl,
               std::chrono::milliseconds failureTtl, size_t workers);
    ~THostNames();
    THostNames(const THostNames&) = delete;
    THostNames& operator=(const THostNames&) = delete;

    // Resolve may be called from several threads; each call waits for its
    // own addresses. Find is one lock and one hash lookup.
    void Resolve(const std::vector<uint32_t>& addrs, std::chrono::milliseconds budget);
    std::optional<std::string> Find(uint32_t addr);
    void Resolve6(const std::vector<TIp6Address>& addrs, std::chrono::milliseconds budget);
    std::optional<std::string> Find6(const TIp6Address& addr);

private:
    std::shared_ptr<THostNamePool> Pool_;
};

}  // namespace tarnwick

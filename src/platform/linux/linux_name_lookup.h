// Names for numbers on Linux: the services database, reverse DNS, gethostname.
//
// Reverse lookups can take seconds each, and a refresh may meet hundreds of new
// addresses, so they run on a small pool of worker threads and are remembered:
//   - ResolveHosts hands every address without a fresh answer to the pool and
//     waits until those are answered or the budget is spent, whichever comes
//     first. An address already being looked up for an earlier call is neither
//     asked nor waited for again.
//   - Answers that come after the budget are still stored, for HostByAddr and
//     later calls.
//   - Names and failures are both remembered, each for its own time to live.
//     When a name expires it is asked for again; until the new answer comes,
//     HostByAddr keeps showing the old name rather than flickering to nothing.
//   - 0.0.0.0 and :: are never looked up.
//   - IPv6 addresses (ResolveHosts6, HostByAddr6) go through the same pool,
//     cache, time to live and budget rules. An IPv4-mapped IPv6 address
//     (::ffff:a.b.c.d) is the IPv4 address it maps: one entry, one lookup.
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
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/services_database.h"
#include "platform/name_lookup.h"

namespace tarnwick {

// Looks up the host name of an address field (see ip_tables.h), or of an IPv6
// address; nullopt when the address has no name. Called from the worker
// threads, several at once.
using THostResolver = std::function<std::optional<std::string>(uint32_t addr)>;
using THost6Resolver = std::function<std::optional<std::string>(const TIp6Address& addr)>;

// The system resolver: getnameinfo with NI_NAMEREQD (on a sockaddr_in, or a
// sockaddr_in6), so an address without a name is a failure rather than its
// numeric form.
std::optional<std::string> ResolveHostBySystem(uint32_t addr);
std::optional<std::string> ResolveHost6BySystem(const TIp6Address& addr);

// Host names longer than this are cut to it.
inline constexpr size_t kMaxHostNameLength = 255;

// The worker pool and the answers, shared with the workers (defined in the .cpp).
class THostNamePool;

struct TNameLookupSettings {
    THostResolver Resolver = ResolveHostBySystem;
    THost6Resolver Resolver6 = ResolveHost6BySystem;
    std::chrono::milliseconds NameTtl = std::chrono::minutes(5);
    std::chrono::milliseconds FailureTtl = std::chrono::minutes(2);
    size_t Workers = 8;  // at most this many lookups at once (at least one)
    std::string ServicesPath = "/etc/services";
};

class TLinuxNameLookup final : public TNameLookup {
public:
    explicit TLinuxNameLookup(TNameLookupSettings settings = {});
    ~TLinuxNameLookup() override;

    TLinuxNameLookup(const TLinuxNameLookup&) = delete;
    TLinuxNameLookup& operator=(const TLinuxNameLookup&) = delete;

    // Thread-safe.
    std::optional<TServiceEntry> ServiceByPort(uint16_t port) override;
    std::string InterfaceName(uint32_t index) override;

    // ResolveHosts may be called from several threads; each call waits for its
    // own addresses. HostByAddr is one lock and one hash lookup.
    void ResolveHosts(const std::vector<uint32_t>& addrs, std::chrono::milliseconds budget) override;
    std::optional<std::string> HostByAddr(uint32_t addr) override;
    void ResolveHosts6(const std::vector<TIp6Address>& addrs, std::chrono::milliseconds budget) override;
    std::optional<std::string> HostByAddr6(const TIp6Address& addr) override;

    // gethostname, read again when the last reading is a few seconds old. Thread-safe.
    std::string ComputerName() override;

private:
    std::shared_ptr<THostNamePool> Pool_;

    std::mutex ServicesMutex_;
    TServicesDatabase Services_;

    std::mutex ComputerNameMutex_;
    std::string ComputerName_;
    std::optional<std::chrono::steady_clock::time_point> ComputerNameRead_;
};

}  // namespace tarnwick

// Names for numbers on Linux: the services database, reverse DNS, gethostname.
//
// Host names come from the system resolver through THostNames (see
// common/host_name_pool.h): a pool of workers, a cache, a bounded wait.
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

#include "common/host_name_pool.h"
#include "platform/linux/services_database.h"
#include "platform/name_lookup.h"

namespace tarnwick {

// The system resolver: getnameinfo with NI_NAMEREQD (on a sockaddr_in, or a
// sockaddr_in6), so an address without a name is a failure rather than its
// numeric form.
std::optional<std::string> ResolveHostBySystem(uint32_t addr);
std::optional<std::string> ResolveHost6BySystem(const TIp6Address& addr);

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
    THostNames Hosts_;

    std::mutex ServicesMutex_;
    TServicesDatabase Services_;

    std::mutex ComputerNameMutex_;
    std::string ComputerName_;
    std::optional<std::chrono::steady_clock::time_point> ComputerNameRead_;
};

}  // namespace tarnwick

// Names for numbers on Windows: service names from Winsock's getservbyport,
// host names from GetNameInfoW (through THostNames: a pool of workers, a
// cache, a bounded wait; see common/host_name_pool.h), the computer's name
// from GetComputerNameW and interface names from the IP helper.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "common/host_name_pool.h"
#include "platform/name_lookup.h"

namespace tarnwick {

// The system resolver: GetNameInfoW with NI_NAMEREQD, so an address without
// a name is a failure rather than its numeric form.
std::optional<std::string> ResolveHostByWinsock(uint32_t addr);
std::optional<std::string> ResolveHost6ByWinsock(const TIp6Address& addr);

class TWindowsNameLookup final : public TNameLookup {
public:
    TWindowsNameLookup();

    // Thread-safe. Each port is asked of Winsock once (it reads its services
    // file at every call); the answers are kept for a minute.
    std::optional<TServiceEntry> ServiceByPort(uint16_t port) override;
    std::string InterfaceName(uint32_t index) override;

    void ResolveHosts(const std::vector<uint32_t>& addrs, std::chrono::milliseconds budget) override;
    std::optional<std::string> HostByAddr(uint32_t addr) override;
    void ResolveHosts6(const std::vector<TIp6Address>& addrs, std::chrono::milliseconds budget) override;
    std::optional<std::string> HostByAddr6(const TIp6Address& addr) override;

    // GetComputerNameW, read again when the last reading is a few seconds old.
    std::string ComputerName() override;

private:
    THostNames Hosts_;

    std::mutex ServicesMutex_;
    std::unordered_map<uint16_t, std::optional<TServiceEntry>> Services_;
    std::chrono::steady_clock::time_point ServicesForgetAt_{};

    std::mutex ComputerNameMutex_;
    std::string ComputerName_;
    std::optional<std::chrono::steady_clock::time_point> ComputerNameRead_;
};

}  // namespace tarnwick

#include "platform/linux/linux_name_lookup.h"

#include <cstring>
#include <mutex>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnwick {

using Clock = std::chrono::steady_clock;

namespace {

// How long a reading of gethostname is reused.
constexpr auto kComputerNameTtl = std::chrono::seconds(5);

}  // namespace

std::string TLinuxNameLookup::InterfaceName(uint32_t index) {
    char name[IF_NAMESIZE] = {};
    if (index != 0 && ::if_indextoname(index, name) != nullptr) return name;
    return TNameLookup::InterfaceName(index);
}

std::optional<std::string> ResolveHostBySystem(uint32_t addr) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    // The field's lowest byte is the first number of the dotted form, which
    // is also the first byte of s_addr.
    const uint8_t bytes[4] = {static_cast<uint8_t>(addr), static_cast<uint8_t>(addr >> 8),
                              static_cast<uint8_t>(addr >> 16), static_cast<uint8_t>(addr >> 24)};
    std::memcpy(&sa.sin_addr, bytes, sizeof bytes);
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                      NI_NAMEREQD) != 0) {
        return std::nullopt;
    }
    return std::string(host, ::strnlen(host, sizeof host));
}

std::optional<std::string> ResolveHost6BySystem(const TIp6Address& addr) {
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    std::memcpy(&sa.sin6_addr, addr.data(), addr.size());
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                      NI_NAMEREQD) != 0) {
        return std::nullopt;
    }
    return std::string(host, ::strnlen(host, sizeof host));
}

TLinuxNameLookup::TLinuxNameLookup(TNameLookupSettings settings)
    : Hosts_(std::move(settings.Resolver), std::move(settings.Resolver6), settings.NameTtl, settings.FailureTtl,
             settings.Workers),
      Services_(std::move(settings.ServicesPath)) {}

TLinuxNameLookup::~TLinuxNameLookup() = default;

std::optional<TServiceEntry> TLinuxNameLookup::ServiceByPort(uint16_t port) {
    std::lock_guard lock(ServicesMutex_);
    return Services_.Find(port);
}

void TLinuxNameLookup::ResolveHosts(const std::vector<uint32_t>& addrs, std::chrono::milliseconds budget) {
    Hosts_.Resolve(addrs, budget);
}

std::optional<std::string> TLinuxNameLookup::HostByAddr(uint32_t addr) { return Hosts_.Find(addr); }

void TLinuxNameLookup::ResolveHosts6(const std::vector<TIp6Address>& addrs, std::chrono::milliseconds budget) {
    Hosts_.Resolve6(addrs, budget);
}

std::optional<std::string> TLinuxNameLookup::HostByAddr6(const TIp6Address& addr) { return Hosts_.Find6(addr); }

std::string TLinuxNameLookup::ComputerName() {
    std::lock_guard lock(ComputerNameMutex_);
    const auto now = Clock::now();
    if (!ComputerNameRead_ || now - *ComputerNameRead_ >= kComputerNameTtl) {
        char buffer[1024] = {};
        // On failure the last name read stays.
        if (::gethostname(buffer, sizeof buffer) == 0) {
            ComputerName_.assign(buffer, ::strnlen(buffer, sizeof buffer));
        }
        ComputerNameRead_ = now;
    }
    return ComputerName_;
}

}  // namespace tarnwick

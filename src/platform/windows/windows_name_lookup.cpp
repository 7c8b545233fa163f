#include "platform/windows/windows_name_lookup.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstring>

#include "platform/windows/wide_text.h"
#include "platform/windows/winsock.h"

namespace tarnwick {

using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kNameTtl = std::chrono::minutes(5);
constexpr auto kFailureTtl = std::chrono::minutes(2);
constexpr size_t kLookupWorkers = 8;
// How long a reading of the computer's name, and the services' answers, are reused.
constexpr auto kComputerNameTtl = std::chrono::seconds(5);
constexpr auto kServicesTtl = std::chrono::minutes(1);

std::optional<std::string> NameOf(const sockaddr* address, int length) {
    wchar_t host[NI_MAXHOST] = {};
    if (::GetNameInfoW(address, length, host, NI_MAXHOST, nullptr, 0, NI_NAMEREQD) != 0) return std::nullopt;
    return Utf8Text(host);
}

}  // namespace

std::optional<std::string> ResolveHostByWinsock(uint32_t addr) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    // The field's lowest byte is the first number of the dotted form, which
    // is also the first byte of the address in memory.
    const uint8_t bytes[4] = {static_cast<uint8_t>(addr), static_cast<uint8_t>(addr >> 8),
                              static_cast<uint8_t>(addr >> 16), static_cast<uint8_t>(addr >> 24)};
    std::memcpy(&sa.sin_addr, bytes, sizeof bytes);
    return NameOf(reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

std::optional<std::string> ResolveHost6ByWinsock(const TIp6Address& addr) {
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    std::memcpy(&sa.sin6_addr, addr.data(), addr.size());
    return NameOf(reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

TWindowsNameLookup::TWindowsNameLookup()
    : Hosts_(ResolveHostByWinsock, ResolveHost6ByWinsock, kNameTtl, kFailureTtl, kLookupWorkers) {
    // Look-ups without Winsock find nothing; that is all a failure here means.
    (void)StartWinsock();
}

std::optional<TServiceEntry> TWindowsNameLookup::ServiceByPort(uint16_t port) {
    std::lock_guard lock(ServicesMutex_);
    const auto now = Clock::now();
    if (now >= ServicesForgetAt_) {
        Services_.clear();
        ServicesForgetAt_ = now + kServicesTtl;
    }
    const auto known = Services_.find(port);
    if (known != Services_.end()) return known->second;
    std::optional<TServiceEntry> entry;
    // Any protocol: the first entry of the services file for the port.
    if (const servent* found = ::getservbyport(static_cast<int>(htons(port)), nullptr); found != nullptr)
        entry = TServiceEntry{found->s_name, found->s_proto != nullptr ? found->s_proto : ""};
    Services_.emplace(port, entry);
    return entry;
}

std::string TWindowsNameLookup::InterfaceName(uint32_t index) {
    char name[IF_NAMESIZE] = {};
    if (index != 0 && ::if_indextoname(index, name) != nullptr) return name;
    return TNameLookup::InterfaceName(index);
}

void TWindowsNameLookup::ResolveHosts(const std::vector<uint32_t>& addrs, std::chrono::milliseconds budget) {
    Hosts_.Resolve(addrs, budget);
}

std::optional<std::string> TWindowsNameLookup::HostByAddr(uint32_t addr) { return Hosts_.Find(addr); }

void TWindowsNameLookup::ResolveHosts6(const std::vector<TIp6Address>& addrs, std::chrono::milliseconds budget) {
    Hosts_.Resolve6(addrs, budget);
}

std::optional<std::string> TWindowsNameLookup::HostByAddr6(const TIp6Address& addr) { return Hosts_.Find6(addr); }

std::string TWindowsNameLookup::ComputerName() {
    std::lock_guard lock(ComputerNameMutex_);
    const auto now = Clock::now();
    if (!ComputerNameRead_ || now - *ComputerNameRead_ >= kComputerNameTtl) {
        // The wide call: the same NetBIOS name GetComputerNameA gives, without
        // a code page between it and UTF-8.
        wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
        // On failure the last name read stays.
        if (::GetComputerNameW(buffer, &length)) ComputerName_ = Utf8Text(std::wstring_view(buffer, length));
        ComputerNameRead_ = now;
    }
    return ComputerName_;
}

}  // namespace tarnwick

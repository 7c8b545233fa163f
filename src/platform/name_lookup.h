// Names for numbers: services by port, hosts by address, and this computer's name.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/inet_address.h"

namespace tarnwick {

struct TServiceEntry {
    std::string Name;      // e.g. "http"
    std::string Protocol;  // e.g. "tcp"
};

class TNameLookup {
public:
    virtual ~TNameLookup() = default;

    // The first entry of the services database for `port` (host order), whatever its protocol.
    virtual std::optional<TServiceEntry> ServiceByPort(uint16_t port) = 0;

    // Asks for the host names of `addrs` (address fields: network byte order, see
    // ip_tables.h) and waits at most `budget` in total for the answers. Answers
    // that arrive later are kept for later calls of HostByAddr.
    virtual void ResolveHosts(const std::vector<uint32_t>& addrs, std::chrono::milliseconds budget) = 0;

    // The host name known for `addr` now, without waiting; nullopt when the
    // address has no name or no answer has arrived yet.
    virtual std::optional<std::string> HostByAddr(uint32_t addr) = 0;

    // The same for IPv6 addresses, through the same cache and budget. A
    // lookup that knows no IPv6 names keeps these.
    virtual void ResolveHosts6(const std::vector<TIp6Address>& /*addrs*/, std::chrono::milliseconds /*budget*/) {}
    virtual std::optional<std::string> HostByAddr6(const TIp6Address& /*addr*/) { return std::nullopt; }

    // This computer's name as the system reports it (case kept).
    virtual std::string ComputerName() = 0;

    // The name of network interface `index` ("lo", "eth0"), the zone of a
    // link-local address reached through it; its number when it has no name
    // (any longer), and empty for 0, no interface.
    virtual std::string InterfaceName(uint32_t index) { return index == 0 ? std::string() : std::to_string(index); }
};

}  // namespace tarnwick

// The connection a log entry is about, as plain values beside the entry's
// text, so that log pipelines get its ends, state and owner as fields instead
// of parsing the line (whose wording is kept for people, and names hosts).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/location_lookup.h"

namespace tarnwick {

struct TLogConnection {
    std::string Protocol;       // TCP, UDP, TCPv6 or UDPv6, as the grid's protocol column
    std::string LocalAddress;   // numeric: dotted IPv4 or the RFC 5952 form of IPv6
    uint16_t LocalPort = 0;
    std::string RemoteAddress;  // numeric, as LocalAddress; never a host name
    uint16_t RemotePort = 0;
    std::string State;          // the state name the grid shows ("Established"); for a
                                // connection that is gone, the last one seen
    // The owning process; nullopt when the tables carry no owners or no
    // process holds the socket (then Process is empty too). Process is "?"
    // when the owner could not be named.
    std::optional<uint32_t> Pid;
    std::string Process;
    // The TCP connection's byte counters as last read (sent: acknowledged by
    // the peer); nullopt where none are known, as for every UDP socket.
    std::optional<uint64_t> BytesSent = std::nullopt;
    std::optional<uint64_t> BytesReceived = std::nullopt;
    // When it happened, for an event the monitor learns of afterwards (a
    // connection that ended between two refreshes); the entry then carries
    // this time instead of the time it was logged.
    std::optional<std::chrono::system_clock::time_point> At = std::nullopt;
    // Where the remote address is, when locations are looked up and one is
    // known: the one copy of it (see InternLocation).
    const TLocation* RemoteLocation = nullptr;

    bool operator==(const TLogConnection&) const = default;
};

}  // namespace tarnwick

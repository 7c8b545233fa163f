// Which captured packets the capture list shows: a conversation between two
// endpoints (address and port each), in either direction, of one protocol.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>

#include "capture/packet_parser.h"
#include "common/inet_address.h"
#include "monitor/socket_owner_map.h"

namespace tarnwick {

// The filter controls' texts as typed; the defaults are the controls' initial
// texts, which filter nothing.
struct TCaptureFilter {
    std::string Protocol;           // unset when empty after trimming blanks
    std::string Addr1 = "0.0.0.0";  // unset when exactly "0.0.0.0", or an IPv6 text of :: (any spelling)
    std::string Addr2 = "0.0.0.0";
    std::string Port1 = "0";        // unset when not an integer, or 0
    std::string Port2 = "0";
    // A program, whose packets alone are listed (TProgramFilter): those with
    // one of its sockets at either end. The fields above narrow them further:
    // a packet is listed when it is the program's and TPacketFilter lists it.
    std::optional<TProgramSelector> Program = std::nullopt;
};

// A TCaptureFilter read once into numbers, so that each packet is judged on
// the numbers the parser read, without texts.
//
// A packet is listed when:
//   - every field is unset; otherwise
//   - the protocol is unset or is exactly the packet's protocol name
//     (PacketProtocolName), and
//   - its source matches endpoint 1 (Addr1, Port1) and its destination
//     endpoint 2 (Addr2, Port2), or its source endpoint 2 and its
//     destination endpoint 1. A side matches an endpoint when each of the
//     endpoint's fields is unset or equal to the side's.
// A field's text equals a packet's value only when it is that value as the
// list writes it: "10.0.0.1" is not 10.0.0.10, and a port typed "080" or
// "+80" is set but equals no port, whose text never has a sign or leading
// zero. An address field holding an IPv6 address is compared by address, so
// "2001:DB8:0::1" is the packet's 2001:db8::1; it never equals an IPv4
// packet's address, nor an IPv4 field an IPv6 packet's.
// "An integer" is read as everywhere in the program (TIniFile::ParseInteger:
// decimal with optional sign, or hexadecimal after 0x or $, 32 bits); blanks
// are bytes up to and including the space.
class TPacketFilter {
public:
    // Lists every packet.
    TPacketFilter() = default;
    explicit TPacketFilter(const TCaptureFilter& filter);

    bool Lists(const TPacketFields& packet) const;

private:
    // One endpoint's fields; a field set to a text no packet shows leaves
    // the endpoint matching nothing.
    struct TEndpoint {
        bool AnyAddress = true;
        bool AnyPort = true;
        bool Never = false;
        bool V6 = false;
        TIp6Address Address{};  // as TPacketFields holds it
        uint16_t Port = 0;

        bool IsSet() const { return !AnyAddress || !AnyPort; }
        bool Matches(bool v6, const TIp6Address& address, const std::optional<uint16_t>& port) const;
    };
    static TEndpoint EndpointOf(const std::string& address, const std::string& port);

    bool Open_ = true;         // nothing set: every packet is listed
    bool AnyProtocol_ = true;
    // When the protocol is set: the protocol numbers whose name it is, of
    // IPv4 and IPv6 packets.
    std::bitset<256> Protocols4_;
    std::bitset<256> Protocols6_;
    TEndpoint One_;
    TEndpoint Two_;
};

}  // namespace tarnwick

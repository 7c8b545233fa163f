// Which captured packets the capture list shows: a conversation between two
// endpoints (address and port each), in either direction, of one protocol.
#pragma once

#include <string>
#include <string_view>

#include "capture/packet_parser.h"

namespace tarnwick {

// The filter controls' texts as typed; the defaults are the controls' initial
// texts, which filter nothing.
struct TCaptureFilter {
    std::string Protocol;           // unset when empty after trimming blanks
    std::string Addr1 = "0.0.0.0";  // unset when exactly "0.0.0.0", or an IPv6 text of :: (any spelling)
    std::string Addr2 = "0.0.0.0";
    std::string Port1 = "0";        // unset when not an integer, or 0
    std::string Port2 = "0";
};

// True when the packet with these cells is not to be listed.
//   - Every field unset: listed.
//   - Protocol set and `proto` not exactly its text: not listed.
//   - Otherwise listed when source matches endpoint 1 (Addr1, Port1) and
//     destination endpoint 2 (Addr2, Port2), or source matches endpoint 2
//     and destination endpoint 1. A side matches an endpoint when each of the
//     endpoint's fields is unset or equal, as text, to the side's: "10.0.0.1"
//     is not "10.0.0.10", and a port typed "080" or "+80" is set but equals
//     no packet's port, whose text never has a sign or leading zero.
//     An address field holding an IPv6 address is compared by address, so
//     "2001:DB8:0::1" is the packet's "2001:db8::1"; it never equals an IPv4
//     packet's address, nor an IPv4 field an IPv6 packet's.
// "An integer" is read as everywhere in the program (TIniFile::ParseInteger:
// decimal with optional sign, or hexadecimal after 0x or $, 32 bits); blanks
// are bytes up to and including the space.
bool IsFilteredOut(const TCaptureFilter& filter, std::string_view proto, std::string_view sourceIP,
                   std::string_view destIP, std::string_view sourcePort, std::string_view destPort);

inline bool IsFilteredOut(const TCaptureFilter& filter, const TCapturedPacket& packet) {
    return IsFilteredOut(filter, packet.Proto, packet.SourceIP, packet.DestIP, packet.SourcePort, packet.DestPort);
}

}  // namespace tarnwick

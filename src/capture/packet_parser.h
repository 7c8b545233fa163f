// One received IP packet (IPv4 or IPv6) split into what the capture list
// shows: protocol, addresses, ports (or ICMP type and code), headers and
// payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/inet_address.h"

namespace tarnwick {

// Header lengths counted for each protocol. The IP header is always taken as
// its fixed 20 bytes; TCP adds its fixed 20 bytes, UDP and ICMP their 8.
inline constexpr size_t kIpHeaderSize = 20;
inline constexpr size_t kTcpHeadersSize = kIpHeaderSize + 20;   // 40
inline constexpr size_t kUdpHeadersSize = kIpHeaderSize + 8;    // 28
inline constexpr size_t kIcmpHeadersSize = kIpHeaderSize + 8;   // 28

inline constexpr int kProtocolIcmp = 1;
inline constexpr int kProtocolTcp = 6;
inline constexpr int kProtocolUdp = 17;

// IPv6: the fixed header, and the next-header values the parser walks
// through (RFC 8200 section 4) or stops at.
inline constexpr size_t kIp6HeaderSize = 40;
inline constexpr int kIp6HopByHop = 0;
inline constexpr int kIp6Routing = 43;
inline constexpr int kIp6Fragment = 44;
inline constexpr int kIp6DestinationOptions = 60;
inline constexpr int kProtocolIcmp6 = 58;
inline constexpr const char* kIcmp6Name = "ICMPv6";

// The name of IP protocol `number`: "IP" (0), "ICMP" (1), "IGMP" (2), "GGP"
// (3), "TCP" (6), "PUP" (12), "UDP" (17), "IDP" (22), "NP" (77), "RAW" (255),
// "MAX" (256, never a packet's: the field is one byte); "" for any other.
std::string ProtocolName(int number);

// The name of a packet's Protocol (TPacketFields): ProtocolName, but
// "ICMPv6" for an IPv6 packet's 58.
std::string PacketProtocolName(bool v6, int protocol);

// What the parser reads from a packet's headers, as numbers: the list's texts
// are made from these when they are shown (packet_dump.h), not when the
// packet arrives.
struct TPacketFields {
    bool V6 = false;
    // IPv4: the header's protocol byte. IPv6: the next header the walk
    // ended at (see ParsePacket).
    int Protocol = 0;
    // In network order; an IPv4 address takes the first four bytes, the
    // rest stay zero.
    TIp6Address SourceAddr{};
    TIp6Address DestAddr{};
    // TCP/UDP ports, ICMP type (source) and code (dest), 0 for other
    // protocols; nullopt when their bytes were not received.
    std::optional<uint16_t> SourcePort;
    std::optional<uint16_t> DestPort;
    // HeaderSize + DataSize is always the received length.
    size_t HeaderSize = 0;
    size_t DataSize = 0;
};

// What a capture reports for one packet.
struct TCapturedPacket : TPacketFields {
    // The local address whose capture received it: the text given to
    // ParsePacket, valid as long as that is.
    std::string_view Ip;
    // The name of that capture's interface, and when the kernel took the
    // packet (nanoseconds since the epoch): set by the capture component,
    // not by ParsePacket.
    std::string_view Interface;
    uint64_t TimeNs = 0;
    // Pointers into the buffer given to ParsePacket, valid while it lives.
    // Header is the buffer's first byte; Data = Header + HeaderSize.
    const uint8_t* Header = nullptr;
    const uint8_t* Data = nullptr;
};

// Splits the `length` bytes at `buffer`, which begin with the IP header. A
// first byte whose version nibble is 6 starts an IPv6 packet; every other
// packet is read as IPv4.
//
// IPv4, well-formed packets: the IP header is the first 20 bytes, always.
// Neither its header-length field nor total length, fragment fields or
// checksum are consulted. So when a packet carries IP options, the TCP/UDP
// ports are read from the first option bytes and the headers counted are
// still 20 + 20 or 20 + 8. This is kept on purpose: honouring the header
// length would change which packets a port filter lists, options are rare on
// the wire, and the common case (IGMP with router alert) reads no ports. TCP
// options likewise count as the start of the data (headers 40).
//
// IPv4 packets shorter than their headers (small fragments, truncated
// frames): nothing is read beyond `length` and no size underflows.
//   - fewer than 20 bytes: no complete IP header, no addresses: dropped
//     (nullopt).
//   - otherwise HeaderSize = min(headers of the protocol, length): 40 for
//     TCP, 28 for UDP and ICMP, 20 for other protocols; DataSize = length -
//     HeaderSize, so a short packet reports DataSize 0 and Data at its end.
//   - a port (or ICMP type/code) whose bytes were not all received is
//     nullopt rather than a made-up 0: TCP/UDP source port needs 22 bytes,
//     destination port 24; ICMP type 21, code 22.
//
// IPv6: the 40-byte header, then the extension headers hop-by-hop (0),
// routing (43), fragment (44) and destination options (60) are walked, each
// by its own length, to the header they end at:
//   - TCP (counted as 20 bytes), UDP (8): ports as for IPv4; ICMPv6 (58, 8
//     bytes): type and code in the ports.
//   - a fragment header with a fragment offset other than 0: the fragment
//     holds no transport header: Protocol is what follows, ports 0,
//     headers end after the fragment header.
//   - any other next header: Protocol is that header, ports 0, headers end
//     where it begins.
// The chain ends at the received length or at the end the payload length
// gives (40 + payload length; a payload length of 0, a jumbogram's, gives
// none), whichever comes first: nothing is read beyond either.
//   - fewer than 40 bytes: no complete header, no addresses: dropped.
//   - an extension header that does not end within the chain: Protocol is
//     that header's own number, ports nullopt (never received), and every
//     byte counts as header (DataSize 0).
//   - a port, type or code beyond the chain's end is nullopt, as for IPv4.
//   - HeaderSize = min(headers, length), DataSize = length - HeaderSize.
std::optional<TCapturedPacket> ParsePacket(std::string_view localIp, const uint8_t* buffer, size_t length);

}  // namespace tarnwick

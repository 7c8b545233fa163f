// The link-layer headers a capture hands over in front of each IP packet, and
// where the IPv4 or IPv6 packet lies behind them: a parser of bytes off the
// wire, without any capture library, so that it can be fuzzed on its own
// (tests/fuzz/fuzz_link_header.cpp). The packet source maps its library's
// link-type numbers onto TLinkType.
//
// Header-only: it is small, and the fuzz target then needs no source of ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace tarnwick {

enum class TLinkType {
    Ethernet,   // EtherType 0x0800 or 0x86DD after any number of 802.1Q / 802.1ad VLAN tags
    Null,       // BSD loopback: a 4-byte address family in the capturing host's byte order
    Loop,       // the same in network byte order
    LinuxSll,   // Linux cooked capture v1: 16-byte header, protocol at 14
    LinuxSll2,  // Linux cooked capture v2: 20-byte header, protocol first
    Raw,        // no header; either family, told by the version nibble
    Ipv4,       // no header; IPv4 only
    Ipv6,       // no header; IPv6 only
};

namespace link_header {

// EtherTypes (include/uapi/linux/if_ether.h).
inline constexpr uint16_t kEtherTypeIpv4 = 0x0800;     // ETH_P_IP
inline constexpr uint16_t kEtherTypeIpv6 = 0x86DD;     // ETH_P_IPV6
inline constexpr uint16_t kEtherTypeVlan = 0x8100;     // ETH_P_8021Q
inline constexpr uint16_t kEtherTypeQinQ = 0x88A8;     // ETH_P_8021AD
inline constexpr uint16_t kEtherTypeOldQinQ = 0x9100;  // ETH_P_QINQ1, pre-802.1ad stacking

// The address families a BSD loopback header names (pcap-linktype(7),
// LINKTYPE_NULL): AF_INET is 2 everywhere; AF_INET6 differs by the system
// that wrote the capture: Linux, then NetBSD/OpenBSD/BSD/OS, FreeBSD, Darwin.
inline constexpr uint32_t kNullFamilyIpv4 = 2;
inline constexpr uint32_t kNullFamiliesIpv6[] = {10, 24, 28, 30};

inline constexpr size_t kEthernetHeaderSize = 14;  // two MAC addresses, EtherType
inline constexpr size_t kVlanTagSize = 4;          // TCI, inner EtherType
inline constexpr size_t kNullHeaderSize = 4;       // the address family, 32 bits
inline constexpr size_t kSllHeaderSize = 16;       // pcap-linktype(7): LINKTYPE_LINUX_SLL
inline constexpr size_t kSllProtocolOffset = 14;
inline constexpr size_t kSll2HeaderSize = 20;  // pcap-linktype(7): LINKTYPE_LINUX_SLL2
inline constexpr size_t kSll2ProtocolOffset = 0;

inline constexpr size_t kIpv4MinHeaderSize = 20;
inline constexpr size_t kIpv6HeaderSize = 40;

inline uint16_t ReadBe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

inline bool IsVlanTag(uint16_t etherType) {
    return etherType == kEtherTypeVlan || etherType == kEtherTypeQinQ || etherType == kEtherTypeOldQinQ;
}

// What a link header says follows it: the header's length and the IP
// version it names (0: either, told by the packet's first byte).
struct TLinkHeader {
    size_t Size = 0;
    int Version = 0;
};

inline std::optional<TLinkHeader> HeaderOfEtherType(uint16_t etherType, size_t size) {
    if (etherType == kEtherTypeIpv4) return TLinkHeader{size, 4};
    if (etherType == kEtherTypeIpv6) return TLinkHeader{size, 6};
    return std::nullopt;
}

// A saved capture may come from a host of the other byte order, and every
// family number we know reads unambiguously either way, so both are tried
// for Null and Loop alike.
inline std::optional<int> VersionOfFamily(const uint8_t* bytes) {
    const uint32_t value = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
    for (const uint32_t family : {value, __builtin_bswap32(value)}) {
        if (family == kNullFamilyIpv4) return 4;
        for (const uint32_t inet6 : kNullFamiliesIpv6)
            if (family == inet6) return 6;
    }
    return std::nullopt;
}

// The link header, when the frame carries IPv4 or IPv6 after it.
inline std::optional<TLinkHeader> HeaderOf(TLinkType linkType, const uint8_t* frame, size_t length) {
    switch (linkType) {
        case TLinkType::Ethernet: {
            if (length < kEthernetHeaderSize) return std::nullopt;
            size_t offset = kEthernetHeaderSize;
            uint16_t etherType = ReadBe16(frame + offset - 2);
            // Each tag ends in the EtherType of what follows it.
            while (IsVlanTag(etherType)) {
                if (length < offset + kVlanTagSize) return std::nullopt;
                offset += kVlanTagSize;
                etherType = ReadBe16(frame + offset - 2);
            }
            return HeaderOfEtherType(etherType, offset);
        }
        case TLinkType::Null:
        case TLinkType::Loop: {
            if (length < kNullHeaderSize) return std::nullopt;
            const std::optional<int> version = VersionOfFamily(frame);
            if (!version) return std::nullopt;
            return TLinkHeader{kNullHeaderSize, *version};
        }
        case TLinkType::LinuxSll:
            if (length < kSllHeaderSize) return std::nullopt;
            return HeaderOfEtherType(ReadBe16(frame + kSllProtocolOffset), kSllHeaderSize);
        case TLinkType::LinuxSll2:
            if (length < kSll2HeaderSize) return std::nullopt;
            return HeaderOfEtherType(ReadBe16(frame + kSll2ProtocolOffset), kSll2HeaderSize);
        case TLinkType::Raw: return TLinkHeader{0, 0};
        case TLinkType::Ipv4: return TLinkHeader{0, 4};
        case TLinkType::Ipv6: return TLinkHeader{0, 6};
    }
    return std::nullopt;
}

}  // namespace link_header

// The longest link header a whole packet is sized for: Ethernet with an
// 802.1ad service tag and a customer tag, as a VLAN's packets arrive on its
// parent's capture (libpcap puts back in the frame a tag the network card
// took off). The cooked headers are shorter. Deeper tag stacks are still
// stripped, but the largest packets behind them may lose their last bytes.
inline constexpr size_t kLongestLinkHeaderSize = link_header::kEthernetHeaderSize + 2 * link_header::kVlanTagSize;
static_assert(kLongestLinkHeaderSize >= link_header::kSll2HeaderSize);

// The largest IP packet without an IPv6 jumbo payload: a 40-byte IPv6 header
// and 65535 bytes of payload (an IPv4 packet ends at 65535 bytes in all).
inline constexpr size_t kLargestIpPacketSize = link_header::kIpv6HeaderSize + 65535;

// Where the IP packet lies in a frame of `linkType`: its offset and length,
// or nullopt when the frame holds no IPv4 or IPv6 packet (another protocol,
// a frame that ends within its link header). The first byte's version nibble
// must be the family the link header names (4 or 6).
//
// The length stops at the IP header's length field when the packet it gives
// lies within the frame (IPv4: total length; IPv6: 40 + payload length), so
// Ethernet padding of short frames is not taken for packet data; otherwise (a
// frame cut by the snapshot length, a segmentation-offload frame whose length
// reads 0, an IPv6 jumbogram) it is the rest of the frame.
inline std::optional<std::pair<size_t, size_t>> StripLinkHeader(TLinkType linkType, const uint8_t* frame,
                                                                size_t length) {
    using namespace link_header;
    const std::optional<TLinkHeader> link = HeaderOf(linkType, frame, length);
    if (!link || link->Size >= length) return std::nullopt;
    const uint8_t* packet = frame + link->Size;
    size_t packetLength = length - link->Size;
    const int version = packet[0] >> 4;
    if (version != 4 && version != 6) return std::nullopt;
    if (link->Version != 0 && version != link->Version) return std::nullopt;
    if (version == 4 && packetLength >= 4) {
        const size_t totalLength = ReadBe16(packet + 2);
        if (totalLength >= kIpv4MinHeaderSize && totalLength < packetLength) packetLength = totalLength;
    }
    if (version == 6 && packetLength >= 6) {
        // A payload length of 0 is a jumbogram's or an offloaded segment's: the rest of the frame.
        const size_t payloadLength = ReadBe16(packet + 4);
        if (payloadLength > 0 && kIpv6HeaderSize + payloadLength < packetLength)
            packetLength = kIpv6HeaderSize + payloadLength;
    }
    return std::make_pair(link->Size, packetLength);
}

}  // namespace tarnwick

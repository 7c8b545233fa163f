#include "capture/packet_parser.h"

#include <algorithm>
#include <cstring>

namespace tarnwick {

std::string ProtocolName(int number) {
    switch (number) {
        case 0: return "IP";
        case 1: return "ICMP";
        case 2: return "IGMP";
        case 3: return "GGP";
        case 6: return "TCP";
        case 12: return "PUP";
        case 17: return "UDP";
        case 22: return "IDP";
        case 77: return "NP";
        case 255: return "RAW";
        case 256: return "MAX";
        default: return "";
    }
}

std::string PacketProtocolName(bool v6, int protocol) {
    return v6 && protocol == kProtocolIcmp6 ? std::string(kIcmp6Name) : ProtocolName(protocol);
}

namespace {

// The `width`-byte big-endian value at `offset`, or nullopt when the packet
// ends before it.
std::optional<uint16_t> ValueAt(const uint8_t* buffer, size_t length, size_t offset, size_t width) {
    if (length < offset + width) return std::nullopt;
    unsigned value = 0;
    for (size_t i = 0; i < width; ++i) value = value << 8 | buffer[offset + i];
    return static_cast<uint16_t>(value);
}

constexpr size_t kFragmentHeaderSize = 8;
constexpr size_t kTcpHeaderSize = kTcpHeadersSize - kIpHeaderSize;
constexpr size_t kUdpHeaderSize = kUdpHeadersSize - kIpHeaderSize;
constexpr size_t kIcmp6HeaderSize = 8;

bool IsWalkedExtension(int nextHeader) {
    return nextHeader == kIp6HopByHop || nextHeader == kIp6Routing || nextHeader == kIp6Fragment ||
           nextHeader == kIp6DestinationOptions;
}

std::optional<TCapturedPacket> ParseIp6Packet(std::string_view localIp, const uint8_t* buffer, size_t length) {
    if (length < kIp6HeaderSize) return std::nullopt;

    TCapturedPacket packet;
    packet.Ip = localIp;
    packet.V6 = true;
    std::memcpy(packet.SourceAddr.data(), buffer + 8, packet.SourceAddr.size());
    std::memcpy(packet.DestAddr.data(), buffer + 24, packet.DestAddr.size());
    packet.Header = buffer;

    // Bytes after the payload length's end are link padding or another
    // packet's, never this one's headers.
    const size_t payloadLength = static_cast<size_t>(buffer[4]) << 8 | buffer[5];
    const size_t end = payloadLength == 0 ? length : std::min(length, kIp6HeaderSize + payloadLength);

    int next = buffer[6];
    size_t offset = kIp6HeaderSize;
    bool laterFragment = false;
    bool truncated = false;
    // Each header is at least 8 bytes, so the walk ends within the packet.
    while (IsWalkedExtension(next) && !laterFragment) {
        size_t size = kFragmentHeaderSize;
        if (next != kIp6Fragment) {
            // Hop-by-hop, routing and destination options give their length
            // in 8-byte units beyond the first 8.
            if (end < offset + 2) {
                truncated = true;
                break;
            }
            size = (static_cast<size_t>(buffer[offset + 1]) + 1) * 8;
        }
        if (end < offset + size) {
            truncated = true;
            break;
        }
        if (next == kIp6Fragment) {
            const unsigned fragmentOffset = (static_cast<unsigned>(buffer[offset + 2]) << 8 | buffer[offset + 3]) >> 3;
            laterFragment = fragmentOffset != 0;
        }
        next = buffer[offset];
        offset += size;
    }

    packet.Protocol = next;
    size_t headers = offset;
    if (truncated) {
        headers = length;
    } else if (laterFragment) {
        packet.SourcePort = 0;
        packet.DestPort = 0;
    } else {
        switch (next) {
            case kProtocolIcmp6:
                packet.SourcePort = ValueAt(buffer, end, offset, 1);    // type
                packet.DestPort = ValueAt(buffer, end, offset + 1, 1);  // code
                headers = offset + kIcmp6HeaderSize;
                break;
            case kProtocolTcp:
            case kProtocolUdp:
                packet.SourcePort = ValueAt(buffer, end, offset, 2);
                packet.DestPort = ValueAt(buffer, end, offset + 2, 2);
                headers = offset + (next == kProtocolTcp ? kTcpHeaderSize : kUdpHeaderSize);
                break;
            default:
                packet.SourcePort = 0;
                packet.DestPort = 0;
                break;
        }
    }

    packet.HeaderSize = std::min(headers, length);
    packet.Data = buffer + packet.HeaderSize;
    packet.DataSize = length - packet.HeaderSize;
    return packet;
}

}  // namespace

std::optional<TCapturedPacket> ParsePacket(std::string_view localIp, const uint8_t* buffer, size_t length) {
    if (buffer == nullptr || length == 0) return std::nullopt;
    if (buffer[0] >> 4 == 6) return ParseIp6Packet(localIp, buffer, length);
    if (length < kIpHeaderSize) return std::nullopt;

    TCapturedPacket packet;
    packet.Ip = localIp;
    const int protocol = buffer[9];
    packet.Protocol = protocol;
    std::memcpy(packet.SourceAddr.data(), buffer + 12, 4);
    std::memcpy(packet.DestAddr.data(), buffer + 16, 4);

    size_t headers = kIpHeaderSize;
    switch (protocol) {
        case kProtocolIcmp:
            packet.SourcePort = ValueAt(buffer, length, 20, 1);  // type
            packet.DestPort = ValueAt(buffer, length, 21, 1);    // code
            headers = kIcmpHeadersSize;
            break;
        case kProtocolTcp:
        case kProtocolUdp:
            packet.SourcePort = ValueAt(buffer, length, 20, 2);
            packet.DestPort = ValueAt(buffer, length, 22, 2);
            headers = protocol == kProtocolTcp ? kTcpHeadersSize : kUdpHeadersSize;
            break;
        default:
            packet.SourcePort = 0;
            packet.DestPort = 0;
            break;
    }

    packet.Header = buffer;
    packet.HeaderSize = std::min(headers, length);
    packet.Data = buffer + packet.HeaderSize;
    packet.DataSize = length - packet.HeaderSize;
    return packet;
}

}  // namespace tarnwick

#include "capture/packet_parser.h"

#include <algorithm>

#include "common/text_util.h"

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

namespace {

// The address at `bytes` as an address field: first byte in memory first.
uint32_t AddressAt(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

// The decimal text of the `width`-byte big-endian value at `offset`, or ""
// when the packet ends before it.
std::string ValueText(const uint8_t* buffer, size_t length, size_t offset, size_t width) {
    if (length < offset + width) return {};
    unsigned value = 0;
    for (size_t i = 0; i < width; ++i) value = value << 8 | buffer[offset + i];
    return std::to_string(value);
}

}  // namespace

std::optional<TCapturedPacket> ParsePacket(std::string_view localIp, const uint8_t* buffer, size_t length) {
    if (buffer == nullptr || length < kIpHeaderSize) return std::nullopt;

    TCapturedPacket packet;
    packet.Ip = std::string(localIp);
    const int protocol = buffer[9];
    packet.Proto = ProtocolName(protocol);
    packet.SourceIP = DottedText(AddressAt(buffer + 12));
    packet.DestIP = DottedText(AddressAt(buffer + 16));

    size_t headers = kIpHeaderSize;
    switch (protocol) {
        case kProtocolIcmp:
            packet.SourcePort = ValueText(buffer, length, 20, 1);  // type
            packet.DestPort = ValueText(buffer, length, 21, 1);    // code
            headers = kIcmpHeadersSize;
            break;
        case kProtocolTcp:
        case kProtocolUdp:
            packet.SourcePort = ValueText(buffer, length, 20, 2);
            packet.DestPort = ValueText(buffer, length, 22, 2);
            headers = protocol == kProtocolTcp ? kTcpHeadersSize : kUdpHeadersSize;
            break;
        default:
            packet.SourcePort = "0";
            packet.DestPort = "0";
            break;
    }

    packet.Header = buffer;
    packet.HeaderSize = std::min(headers, length);
    packet.Data = buffer + packet.HeaderSize;
    packet.DataSize = length - packet.HeaderSize;
    return packet;
}

}  // namespace tarnwick

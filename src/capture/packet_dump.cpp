#include "capture/packet_dump.h"

#include <algorithm>

#include "common/inet_address.h"
#include "common/text_util.h"

namespace tarnwick {

namespace {

char TextColumnChar(uint8_t byte) { return byte < 20 ? '.' : static_cast<char>(byte); }

}  // namespace

std::string ProtocolText(const TPacketFields& packet) { return PacketProtocolName(packet.V6, packet.Protocol); }

namespace {

std::string AddressText(bool v6, const TIp6Address& address) {
    if (v6) return Ip6Text(address);
    return DottedText(uint32_t{address[0]} | uint32_t{address[1]} << 8 | uint32_t{address[2]} << 16 |
                      uint32_t{address[3]} << 24);
}

}  // namespace

std::string SourceAddressText(const TPacketFields& packet) { return AddressText(packet.V6, packet.SourceAddr); }

std::string DestAddressText(const TPacketFields& packet) { return AddressText(packet.V6, packet.DestAddr); }

std::string PortText(const std::optional<uint16_t>& port) { return port ? std::to_string(*port) : std::string(); }

std::string DataCellText(std::span<const uint8_t> payload) {
    const auto end = std::find(payload.begin(), payload.end(), uint8_t{0});
    return std::string(payload.begin(), end);
}

std::string PacketListCell(const TPacketFields& packet, std::span<const uint8_t> payload, size_t column) {
    switch (column) {
        case 0: return ProtocolText(packet);
        case 1: return SourceAddressText(packet);
        case 2: return PortText(packet.SourcePort);
        case 3: return DestAddressText(packet);
        case 4: return PortText(packet.DestPort);
        case 5: return std::to_string(packet.DataSize);
        case 6: return DataCellText(payload);
        default: return {};
    }
}

std::array<std::string, kPacketListColumns> PacketListCells(const TCapturedPacket& packet) {
    const std::span<const uint8_t> payload(packet.Data, packet.DataSize);
    std::array<std::string, kPacketListColumns> cells;
    for (size_t column = 0; column < kPacketListColumns; ++column)
        cells[column] = PacketListCell(packet, payload, column);
    return cells;
}

std::string TextDumpLine(std::span<const uint8_t> payload) {
    std::string line(payload.size(), ' ');
    std::transform(payload.begin(), payload.end(), line.begin(), TextColumnChar);
    return line;
}

std::vector<std::string> HexDumpLines(std::span<const uint8_t> payload) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::vector<std::string> lines;
    lines.reserve((payload.size() + kHexDumpBytesPerLine - 1) / kHexDumpBytesPerLine);
    for (size_t start = 0; start < payload.size(); start += kHexDumpBytesPerLine) {
        const auto bytes = payload.subspan(start, std::min(kHexDumpBytesPerLine, payload.size() - start));
        std::string line;
        line.reserve(kHexDumpHexWidth + kHexDumpSeparator.size() + kHexDumpBytesPerLine);
        for (uint8_t byte : bytes) {
            line += kHex[byte >> 4];
            line += kHex[byte & 0xF];
            line += ' ';
        }
        line.resize(kHexDumpHexWidth, ' ');
        line += kHexDumpSeparator;
        line += TextDumpLine(bytes);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string HexDumpText(std::span<const uint8_t> payload) {
    std::string text;
    for (const std::string& line : HexDumpLines(payload)) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    return text;
}

}  // namespace tarnwick

#include "capture/packet_dump.h"

#include <algorithm>

namespace tarnwick {

namespace {

char TextColumnChar(uint8_t byte) { return byte < 20 ? '.' : static_cast<char>(byte); }

}  // namespace

std::string DataCellText(std::span<const uint8_t> payload) {
    const auto end = std::find(payload.begin(), payload.end(), uint8_t{0});
    return std::string(payload.begin(), end);
}

std::string PacketListCell(const TCapturedPacket& packet, size_t column) {
    switch (column) {
        case 0: return packet.Proto;
        case 1: return packet.SourceIP;
        case 2: return packet.SourcePort;
        case 3: return packet.DestIP;
        case 4: return packet.DestPort;
        case 5: return std::to_string(packet.DataSize);
        case 6: return DataCellText({packet.Data, packet.DataSize});
        default: return {};
    }
}

std::array<std::string, kPacketListColumns> PacketListCells(const TCapturedPacket& packet) {
    std::array<std::string, kPacketListColumns> cells;
    for (size_t column = 0; column < kPacketListColumns; ++column) cells[column] = PacketListCell(packet, column);
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

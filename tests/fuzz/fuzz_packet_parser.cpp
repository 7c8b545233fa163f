// libFuzzer target for the packet parser and the texts made from a packet:
// any bytes, IPv4 or IPv6 with any chain of extension headers, are either
// dropped or split without reading past the received length, sizes add up,
// and the dumps and filter hold their shape. Seeds: tests/fuzz/packet_corpus.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "capture/capture_filter.h"
#include "capture/packet_dump.h"
#include "capture/packet_parser.h"

namespace {

using namespace tarnwick;

void Check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "packet parser invariant broken: %s\n", what);
    std::abort();
}

void CheckDumps(std::span<const uint8_t> payload) {
    const std::string text = TextDumpLine(payload);
    Check(text.size() == payload.size(), "text dump has one character per byte");
    const auto lines = HexDumpLines(payload);
    Check(lines.size() == (payload.size() + 7) / 8, "one hex line per 8 bytes");
    size_t covered = 0;
    for (const std::string& line : lines) {
        Check(line.compare(kHexDumpHexWidth, kHexDumpSeparator.size(), kHexDumpSeparator) == 0,
              "separator after the 24-character hex column");
        const std::string column = line.substr(kHexDumpHexWidth + kHexDumpSeparator.size());
        Check(column == text.substr(covered, column.size()), "text column is the text dump's slice");
        covered += column.size();
    }
    Check(covered == payload.size(), "hex lines cover the payload");
    const std::string cell = DataCellText(payload);
    Check(cell.size() <= payload.size() && cell.find('\0') == std::string::npos, "data cell stops at a zero");
    Check(std::memcmp(cell.data(), payload.data(), cell.size()) == 0, "data cell is the payload's start");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that AddressSanitizer sees a read past the end.
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[size == 0 ? 1 : size]);
    if (size > 0) std::memcpy(buffer.get(), data, size);
    const uint8_t* const begin = buffer.get();

    const auto packet = ParsePacket("192.0.2.1", begin, size);
    CheckDumps(std::span<const uint8_t>(begin, size));
    const bool ip6 = size > 0 && begin[0] >> 4 == 6;
    const size_t fixedHeader = ip6 ? kIp6HeaderSize : kIpHeaderSize;
    if (!packet) {
        Check(size < fixedHeader, "only packets without a whole IP header are dropped");
        return 0;
    }
    Check(size >= fixedHeader, "a packet without a whole IP header is dropped");
    Check(packet->Header == begin, "header starts the buffer");
    Check(packet->HeaderSize >= fixedHeader, "the IP header counts");
    Check(ip6 || packet->HeaderSize <= kTcpHeadersSize, "IPv4 headers end after TCP's at the latest");
    Check(packet->HeaderSize + packet->DataSize == size, "header + data is the length");
    Check(packet->Data == begin + packet->HeaderSize, "data follows the headers");
    const auto cells = PacketListCells(*packet);
    Check(ip6 || cells[0] == ProtocolName(begin[9]), "IPv4 protocol name from byte 9");
    Check(!ip6 || (cells[1].find(':') != std::string::npos && cells[3].find(':') != std::string::npos),
          "IPv6 addresses in their text form");
    Check(cells[5] == std::to_string(packet->DataSize), "data size cell");

    // The filter, read from texts, and the packet, kept as numbers, agree.
    Check(TPacketFilter(TCaptureFilter{}).Lists(*packet), "an empty filter lists everything");
    const TCaptureFilter own{cells[0], cells[1], cells[3], cells[2], cells[4]};
    const TCaptureFilter reversed{cells[0], cells[3], cells[1], cells[4], cells[2]};
    Check(TPacketFilter(own).Lists(*packet), "a filter made of the packet's cells lists it");
    Check(TPacketFilter(reversed).Lists(*packet), "the same conversation backwards lists it");
    return 0;
}

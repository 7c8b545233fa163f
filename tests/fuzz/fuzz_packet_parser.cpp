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
    Check(ip6 || packet->Proto == ProtocolName(begin[9]), "IPv4 protocol name from byte 9");
    Check(!ip6 || (packet->SourceIP.find(':') != std::string::npos && packet->DestIP.find(':') != std::string::npos),
          "IPv6 addresses in their text form");

    const auto cells = PacketListCells(*packet);
    Check(cells[5] == std::to_string(packet->DataSize), "data size cell");

    const TCaptureFilter open;
    Check(!IsFilteredOut(open, *packet), "an empty filter lists everything");
    const TCaptureFilter own{packet->Proto, packet->SourceIP, packet->DestIP, packet->SourcePort, packet->DestPort};
    const TCaptureFilter reversed{packet->Proto, packet->DestIP, packet->SourceIP, packet->DestPort,
                                  packet->SourcePort};
    Check(!IsFilteredOut(own, *packet), "a filter made of the packet lists it");
    Check(!IsFilteredOut(reversed, *packet), "the same conversation backwards lists it");
    return 0;
}

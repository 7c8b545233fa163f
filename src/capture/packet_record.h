// One packet of the capture list as it is kept: the numbers the parser read
// from its headers, and its payload. The list's cells and the dumps are made
// from these when they are asked for, so a packet is parsed once, when it
// arrives, and costs one buffer and no texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/packet_parser.h"

namespace tarnwick {

class TPacketRecord {
public:
    explicit TPacketRecord(const TCapturedPacket& packet);
    // Now holds `packet`, in the buffer it had when that is large enough.
    void Assign(const TCapturedPacket& packet);

    // Cell `column` of the packet's row in the list (PacketListCell).
    std::string Cell(size_t column) const;
    // The hex dump of the payload, lines joined by '\n' (HexDumpText).
    std::string HexDump() const;
    // The text column of the payload as one line (TextDumpLine).
    std::string TextDump() const;

private:
    TPacketFields Fields_;
    std::vector<uint8_t> Payload_;  // the bytes after the headers the parser counts
};

}  // namespace tarnwick

#include "capture/packet_record.h"

#include "capture/packet_dump.h"

namespace tarnwick {

TPacketRecord::TPacketRecord(const TCapturedPacket& packet)
    : Fields_(packet), Payload_(packet.Data, packet.Data + packet.DataSize) {}

void TPacketRecord::Assign(const TCapturedPacket& packet) {
    Fields_ = packet;
    Payload_.assign(packet.Data, packet.Data + packet.DataSize);
}

std::string TPacketRecord::Cell(size_t column) const { return PacketListCell(Fields_, Payload_, column); }

std::string TPacketRecord::HexDump() const { return HexDumpText(Payload_); }

std::string TPacketRecord::TextDump() const { return TextDumpLine(Payload_); }

}  // namespace tarnwick

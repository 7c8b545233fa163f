#include "capture/packet_record.h"

#include "capture/packet_dump.h"

namespace tarnwick {

TPacketRecord::TPacketRecord(const TCapturedPacket& packet)
    : Bytes_(packet.Header, packet.Header + packet.HeaderSize + packet.DataSize), HeaderSize_(packet.HeaderSize) {}

void TPacketRecord::Assign(const TCapturedPacket& packet) {
    Bytes_.assign(packet.Header, packet.Header + packet.HeaderSize + packet.DataSize);
    HeaderSize_ = packet.HeaderSize;
}

std::span<const uint8_t> TPacketRecord::Payload() const { return std::span(Bytes_).subspan(HeaderSize_); }

std::string TPacketRecord::Cell(size_t column) const {
    // The header values are read again from the bytes by the one parser
    // there is; the bytes were parsed once already, so this cannot fail.
    const auto packet = ParsePacket({}, Bytes_.data(), Bytes_.size());
    return packet ? PacketListCell(*packet, column) : std::string();
}

std::string TPacketRecord::HexDump() const { return HexDumpText(Payload()); }

std::string TPacketRecord::TextDump() const { return TextDumpLine(Payload()); }

}  // namespace tarnwick

// The texts the capture list shows for a packet: its row in the list, and
// the hex and text dumps of its payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capture/packet_parser.h"

namespace tarnwick {

inline constexpr size_t kPacketListColumns = 7;
inline constexpr std::array<std::string_view, kPacketListColumns> kPacketListHeaders{
    "Protocol", "Source Addr", "Source Port", "Dest Addr", "Dest Port", "Data Size", "Data"};

// Bytes per line of the hex dump, and the width of its hex column.
inline constexpr size_t kHexDumpBytesPerLine = 8;
inline constexpr size_t kHexDumpHexWidth = 3 * kHexDumpBytesPerLine;  // 24
inline constexpr std::string_view kHexDumpSeparator = "  |  ";

// The texts of a packet's fields: its protocol's name (PacketProtocolName),
// an address dotted decimal (IPv4) or in RFC 5952 form (IPv6, Ip6Text), a
// port in decimal, and the empty text for a port that was not received.
std::string ProtocolText(const TPacketFields& packet);
std::string SourceAddressText(const TPacketFields& packet);
std::string DestAddressText(const TPacketFields& packet);
std::string PortText(const std::optional<uint16_t>& port);

// The Data cell: the payload read as text up to its first zero byte (all of
// it when it holds none), bytes unchanged.
std::string DataCellText(std::span<const uint8_t> payload);

// Cell `column` of the row of the packet with `packet`'s fields and
// `payload`, in the order of kPacketListHeaders: protocol, source address,
// source port, destination address, destination port, DataSize in decimal,
// and DataCellText of the payload; empty for a column beyond the last.
std::string PacketListCell(const TPacketFields& packet, std::span<const uint8_t> payload, size_t column);

// The seven cells of the packet's row.
std::array<std::string, kPacketListColumns> PacketListCells(const TCapturedPacket& packet);

// The text column of the dumps: one byte per payload byte, bytes below 20
// (decimal) as '.', every other byte as itself. Bytes from 128 up stay single
// raw bytes so that columns stay aligned; the display shows each as one
// character (Latin-1).
std::string TextDumpLine(std::span<const uint8_t> payload);

// The hex dump: one line per 8 bytes, each byte as two upper-case hex digits
// and a blank, the hex column padded with blanks to 24 characters on a short
// last line, then "  |  " and the text column of those bytes. No offsets. An
// empty payload gives no lines.
std::vector<std::string> HexDumpLines(std::span<const uint8_t> payload);

// HexDumpLines joined by '\n', without one after the last line.
std::string HexDumpText(std::span<const uint8_t> payload);

}  // namespace tarnwick

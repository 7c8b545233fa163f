// The list row and the hex and text dumps of a packet's payload.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/packet_dump.h"

namespace tarnwick::testing {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(PacketDumpTest, LinesOfEightBytes) {
    const auto payload = Bytes("ABCDEFGHIJKLMN\r\n");
    EXPECT_EQ(HexDumpLines(payload), (std::vector<std::string>{"41 42 43 44 45 46 47 48   |  ABCDEFGH",
                                                               "49 4A 4B 4C 4D 4E 0D 0A   |  IJKLMN.."}));
    EXPECT_EQ(TextDumpLine(payload), "ABCDEFGHIJKLMN..");
}

TEST(PacketDumpTest, ShortLastLineIsPaddedToTheSeparator) {
    const auto lines = HexDumpLines(Bytes("123456789"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "39 " + std::string(21, ' ') + "  |  9");
    EXPECT_TRUE(HexDumpLines({}).empty());
    EXPECT_EQ(TextDumpLine({}), "");
}

TEST(PacketDumpTest, TextColumnHidesBytesBelowTwentyOnly) {
    const std::vector<uint8_t> payload{0, 19, 20, 31, 32, 127, 0xAB, 0xFF};
    EXPECT_EQ(TextDumpLine(payload), std::string("..\x14\x1F \x7F\xAB\xFF"));
    EXPECT_EQ(HexDumpLines(payload).front(), std::string("00 13 14 1F 20 7F AB FF   |  ..\x14\x1F \x7F\xAB\xFF"));
}

TEST(PacketDumpTest, DataCellStopsAtTheFirstZero) {
    EXPECT_EQ(DataCellText(Bytes("GET / HTTP/1.1\r\n")), "GET / HTTP/1.1\r\n");
    EXPECT_EQ(DataCellText(Bytes(std::string_view("ab\0cd", 5))), "ab");
    EXPECT_EQ(DataCellText(Bytes(std::string_view("\0abc", 4))), "");
}

TEST(PacketDumpTest, ListRowCells) {
    const uint8_t data[] = {'h', 'i', 0, 'x'};
    TCapturedPacket packet;
    packet.Protocol = kProtocolUdp;
    packet.SourceAddr = {10, 0, 0, 1};
    packet.SourcePort = 5353;
    packet.DestAddr = {224, 0, 0, 251};
    packet.DestPort = 5353;
    packet.Data = data;
    packet.DataSize = sizeof data;
    const auto cells = PacketListCells(packet);
    EXPECT_EQ(std::vector<std::string>(cells.begin(), cells.end()),
              (std::vector<std::string>{"UDP", "10.0.0.1", "5353", "224.0.0.251", "5353", "4", "hi"}));
    EXPECT_EQ(kPacketListHeaders[5], "Data Size");
}

}  // namespace
}  // namespace tarnwick::testing

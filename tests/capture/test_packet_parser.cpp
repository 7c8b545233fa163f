// Splitting received packets built byte by byte in the test. Each packet is
// parsed from a heap copy of exactly its length, so AddressSanitizer stops a
// read past the received bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "capture/packet_dump.h"
#include "capture/packet_parser.h"

namespace tarnwick::testing {
namespace {

using TBytes = std::vector<uint8_t>;

// An IPv4 header 192.168.1.10 -> 10.0.0.200 of `protocol`, then `rest`.
TBytes IpPacket(uint8_t protocol, const TBytes& rest, uint8_t versionAndLength = 0x45) {
    TBytes bytes{versionAndLength, 0, 0, 0, 0, 0, 0, 0, 64, protocol, 0, 0, 192, 168, 1, 10, 10, 0, 0, 200};
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

TBytes Repeat(size_t count, uint8_t byte) { return TBytes(count, byte); }

TBytes Join(std::initializer_list<TBytes> parts) {
    TBytes all;
    for (const TBytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The received bytes in a buffer of exactly their size, and what they parse to.
struct TReceived {
    explicit TReceived(const TBytes& bytes, size_t length)
        : Buffer(new uint8_t[length == 0 ? 1 : length]), Length(length) {
        std::memcpy(Buffer.get(), bytes.data(), length);
        Packet = ParsePacket("192.168.1.10", Buffer.get(), Length);
    }
    explicit TReceived(const TBytes& bytes) : TReceived(bytes, bytes.size()) {}

    std::unique_ptr<uint8_t[]> Buffer;
    size_t Length;
    std::optional<TCapturedPacket> Packet;
};

TEST(PacketParserTest, TcpOptionsCountAsData) {
    const TBytes tcp = Join({{0x01, 0xBB, 0xC7, 0x38}, Repeat(16, 0), Repeat(12, 0xAA), Repeat(100, 'x')});
    const TReceived received(IpPacket(6, tcp));
    ASSERT_EQ(received.Length, 152u);
    ASSERT_TRUE(received.Packet);
    const TCapturedPacket& p = *received.Packet;
    EXPECT_EQ(p.Ip, "192.168.1.10");
    EXPECT_EQ(ProtocolText(p), "TCP");
    EXPECT_EQ(SourceAddressText(p), "192.168.1.10");
    EXPECT_EQ(DestAddressText(p), "10.0.0.200");
    EXPECT_EQ(PortText(p.SourcePort), "443");
    EXPECT_EQ(PortText(p.DestPort), "51000");
    EXPECT_EQ(p.Header, received.Buffer.get());
    EXPECT_EQ(p.HeaderSize, 40u);
    EXPECT_EQ(p.Data, received.Buffer.get() + 40);
    EXPECT_EQ(p.DataSize, 112u);
    EXPECT_EQ(p.Data[0], 0xAA);  // the options start the data
}

TEST(PacketParserTest, UdpPortsAndIcmpTypeAndCode) {
    const TReceived udp(IpPacket(17, Join({{0x00, 0x35, 0xFF, 0xFF, 0, 12, 0, 0}, Repeat(4, 'q')})));
    ASSERT_TRUE(udp.Packet);
    EXPECT_EQ(ProtocolText(*udp.Packet), "UDP");
    EXPECT_EQ(PortText(udp.Packet->SourcePort), "53");
    EXPECT_EQ(PortText(udp.Packet->DestPort), "65535");
    EXPECT_EQ(udp.Packet->HeaderSize, 28u);
    EXPECT_EQ(udp.Packet->DataSize, 4u);

    const TReceived echo(IpPacket(1, Join({{8, 0, 0xF7, 0xFF, 0, 1, 0, 1}, Repeat(32, 'a')})));
    ASSERT_TRUE(echo.Packet);
    EXPECT_EQ(ProtocolText(*echo.Packet), "ICMP");
    EXPECT_EQ(PortText(echo.Packet->SourcePort), "8");
    EXPECT_EQ(PortText(echo.Packet->DestPort), "0");
    EXPECT_EQ(echo.Packet->HeaderSize, 28u);
    EXPECT_EQ(echo.Packet->DataSize, 32u);

    const TReceived unreachable(IpPacket(1, {3, 13, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(PortText(unreachable.Packet->SourcePort), "3");
    EXPECT_EQ(PortText(unreachable.Packet->DestPort), "13");
}

TEST(PacketParserTest, OtherProtocolsReadNoPorts) {
    const std::vector<std::pair<uint8_t, const char*>> protocols{{0, "IP"}, {2, "IGMP"}, {47, ""}, {255, "RAW"}};
    for (const auto& [protocol, name] : protocols) {
        const TReceived received(IpPacket(protocol, {0x01, 0xBB, 0x00, 0x50, 'd'}));
        ASSERT_TRUE(received.Packet);
        EXPECT_EQ(ProtocolText(*received.Packet), name);
        EXPECT_EQ(PortText(received.Packet->SourcePort), "0");
        EXPECT_EQ(PortText(received.Packet->DestPort), "0");
        EXPECT_EQ(received.Packet->HeaderSize, 20u);
        EXPECT_EQ(received.Packet->DataSize, 5u);
    }
}

TEST(PacketParserTest, IpHeaderIsAlwaysTwentyBytes) {
    // Header length 6 words: the ports are read from the 4 option bytes.
    const TBytes withOptions = Join({{0x94, 0x04, 0x00, 0x00}, {0x00, 0x50, 0x1F, 0x90}, Repeat(30, 0)});
    const TReceived received(IpPacket(6, withOptions, 0x46));
    ASSERT_TRUE(received.Packet);
    EXPECT_EQ(PortText(received.Packet->SourcePort), "37892");
    EXPECT_EQ(PortText(received.Packet->DestPort), "0");
    EXPECT_EQ(received.Packet->HeaderSize, 40u);
    EXPECT_EQ(received.Packet->DataSize, 18u);
}

TEST(PacketParserTest, ProtocolNames) {
    const std::vector<std::pair<int, const char*>> named{{0, "IP"},   {1, "ICMP"}, {2, "IGMP"}, {3, "GGP"},
                                                         {6, "TCP"},  {12, "PUP"}, {17, "UDP"}, {22, "IDP"},
                                                         {77, "NP"},  {255, "RAW"}, {256, "MAX"}};
    for (const auto& [number, name] : named) EXPECT_EQ(ProtocolName(number), name) << number;
    for (int number : {-1, 4, 41, 47, 254, 257}) EXPECT_EQ(ProtocolName(number), "") << number;
}

// Every prefix of a full packet of each protocol: never a read past the end
// (ASan), sizes that add up, and a port only when its bytes arrived.
TEST(PacketParserTest, ShortPacketsOfEveryProtocol) {
    struct TCase {
        uint8_t Protocol;
        size_t Headers;
        size_t SourceEnd, DestEnd;  // bytes needed for each value; 0: always "0"
    };
    for (const TCase c : {TCase{6, 40, 22, 24}, TCase{17, 28, 22, 24}, TCase{1, 28, 21, 22}, TCase{47, 20, 0, 0}}) {
        const TBytes full = IpPacket(c.Protocol, Join({{0x12, 0x34, 0x56, 0x78}, Repeat(40, 0xEE)}));
        for (size_t length = 0; length <= 44; ++length) {
            SCOPED_TRACE(::testing::Message() << "protocol " << int{c.Protocol} << ", " << length << " bytes");
            const TReceived received(full, length);
            if (length < 20) {
                EXPECT_FALSE(received.Packet);
                continue;
            }
            ASSERT_TRUE(received.Packet);
            const TCapturedPacket& p = *received.Packet;
            EXPECT_EQ(p.HeaderSize, std::min(c.Headers, length));
            EXPECT_EQ(p.HeaderSize + p.DataSize, length);
            EXPECT_EQ(p.Data, received.Buffer.get() + p.HeaderSize);
            EXPECT_EQ(SourceAddressText(p), "192.168.1.10");
            EXPECT_EQ(DestAddressText(p), "10.0.0.200");
            const bool hasSource = c.SourceEnd == 0 || length >= c.SourceEnd;
            const bool hasDest = c.DestEnd == 0 || length >= c.DestEnd;
            EXPECT_EQ(PortText(p.SourcePort).empty(), !hasSource);
            EXPECT_EQ(PortText(p.DestPort).empty(), !hasDest);
        }
    }
}

// ---- IPv6 -------------------------------------------------------------------

// An IPv6 header 2001:db8::1 -> ::1 whose next header is `next`, then
// `rest`; the payload length is that of `rest` unless given.
TBytes Ip6Packet(uint8_t next, const TBytes& rest, std::optional<size_t> payloadLength = std::nullopt) {
    const size_t length = payloadLength.value_or(rest.size());
    TBytes bytes{0x60, 0, 0, 0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), next, 64};
    const TBytes source{0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const TBytes dest{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return Join({bytes, source, dest, rest});
}

// An extension header of 8 * (units + 1) bytes leading to `next`.
TBytes Extension(uint8_t next, uint8_t units = 0) { return Join({{next, units}, Repeat(6 + 8 * units, 0x01)}); }

// A fragment header leading to `next`, at fragment offset `offset` (8-byte units), more fragments to come.
TBytes Fragment(uint8_t next, uint16_t offset) {
    const uint16_t field = static_cast<uint16_t>(offset << 3 | 1);
    return {next, 0, static_cast<uint8_t>(field >> 8), static_cast<uint8_t>(field), 0, 0, 0x12, 0x34};
}

const TBytes kUdp53To5353{0x00, 0x35, 0x14, 0xE9, 0, 12, 0, 0};

TEST(PacketParserTest, Ip6ExtensionHeadersAreWalkedToTheTransportHeader) {
    // Hop-by-hop (8), destination options (16), routing (8), then UDP.
    const TBytes chain = Join({Extension(60), Extension(43, 1), Extension(17), kUdp53To5353, {'d', 'n', 's', 0}});
    const TReceived received(Ip6Packet(0, chain));
    ASSERT_TRUE(received.Packet);
    const TCapturedPacket& p = *received.Packet;
    EXPECT_EQ(ProtocolText(p), "UDP");
    EXPECT_EQ(SourceAddressText(p), "2001:db8::1");
    EXPECT_EQ(DestAddressText(p), "::1");
    EXPECT_EQ(PortText(p.SourcePort), "53");
    EXPECT_EQ(PortText(p.DestPort), "5353");
    EXPECT_EQ(p.HeaderSize, 40u + 32u + 8u);
    EXPECT_EQ(p.DataSize, 4u);
    EXPECT_EQ(p.Data[0], 'd');

    const TReceived tcp(Ip6Packet(6, Join({{0x01, 0xBB, 0xC7, 0x38}, Repeat(16, 0), Repeat(3, 'x')})));
    EXPECT_EQ(ProtocolText(*tcp.Packet), "TCP");
    EXPECT_EQ(PortText(tcp.Packet->SourcePort), "443");
    EXPECT_EQ(PortText(tcp.Packet->DestPort), "51000");
    EXPECT_EQ(tcp.Packet->HeaderSize, 60u);
}

TEST(PacketParserTest, Ip6FragmentsOtherThanTheFirstCarryNoPorts) {
    const TReceived first(Ip6Packet(44, Join({Fragment(17, 0), kUdp53To5353, {'a'}})));
    EXPECT_EQ(ProtocolText(*first.Packet), "UDP");
    EXPECT_EQ(PortText(first.Packet->SourcePort), "53");
    EXPECT_EQ(first.Packet->HeaderSize, 56u);

    // Bytes that would read as ports follow the fragment header: they are data.
    const TReceived later(Ip6Packet(0, Join({Extension(44), Fragment(17, 185), kUdp53To5353})));
    ASSERT_TRUE(later.Packet);
    EXPECT_EQ(ProtocolText(*later.Packet), "UDP");
    EXPECT_EQ(PortText(later.Packet->SourcePort), "0");
    EXPECT_EQ(PortText(later.Packet->DestPort), "0");
    EXPECT_EQ(later.Packet->HeaderSize, 56u);
    EXPECT_EQ(later.Packet->DataSize, 8u);
}

TEST(PacketParserTest, Icmp6ShowsTypeAndCodeAndOtherNextHeadersNoPorts) {
    const TReceived echo(Ip6Packet(58, Join({{128, 0, 0x12, 0x34, 0, 1, 0, 1}, Repeat(5, 'p')})));
    ASSERT_TRUE(echo.Packet);
    EXPECT_EQ(ProtocolText(*echo.Packet), "ICMPv6");
    EXPECT_EQ(PortText(echo.Packet->SourcePort), "128");
    EXPECT_EQ(PortText(echo.Packet->DestPort), "0");
    EXPECT_EQ(echo.Packet->HeaderSize, 48u);
    EXPECT_EQ(echo.Packet->DataSize, 5u);

    for (const auto& [next, name] : std::vector<std::pair<uint8_t, const char*>>{{59, ""}, {2, "IGMP"}, {47, ""}}) {
        const TReceived other(Ip6Packet(0, Join({Extension(next), {1, 2, 3, 4}})));
        ASSERT_TRUE(other.Packet);
        EXPECT_EQ(ProtocolText(*other.Packet), name);
        EXPECT_EQ(PortText(other.Packet->SourcePort), "0");
        EXPECT_EQ(PortText(other.Packet->DestPort), "0");
        EXPECT_EQ(other.Packet->HeaderSize, 48u);
        EXPECT_EQ(other.Packet->DataSize, 4u);
    }
}

// Every prefix of a packet with a chain: never a read past the end (ASan),
// sizes that add up, a cut chain counted as all header, ports only when
// received. The payload length cuts the chain as the received length does.
TEST(PacketParserTest, Ip6ChainsCutShortAreNeverOverRead) {
    const TBytes chain = Join({Extension(44, 1), Fragment(6, 0), {0x01, 0xBB, 0xC7, 0x38}, Repeat(16, 0), {'z'}});
    const TBytes full = Ip6Packet(0, chain);
    for (size_t length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(::testing::Message() << length << " bytes");
        const TReceived received(full, length);
        if (length < 40) {
            EXPECT_FALSE(received.Packet);
            continue;
        }
        ASSERT_TRUE(received.Packet);
        const TCapturedPacket& p = *received.Packet;
        EXPECT_EQ(p.HeaderSize + p.DataSize, length);
        EXPECT_EQ(SourceAddressText(p), "2001:db8::1");
        if (length < 64) {
            EXPECT_EQ(ProtocolText(p), length < 56 ? "IP" : "");  // the header cut: hop-by-hop, then the fragment
            EXPECT_EQ(p.HeaderSize, length);
        } else {
            EXPECT_EQ(ProtocolText(p), "TCP");
            EXPECT_EQ(p.HeaderSize, std::min<size_t>(84, length));
        }
        EXPECT_EQ(PortText(p.SourcePort).empty(), length < 66);
        EXPECT_EQ(PortText(p.DestPort).empty(), length < 68);
    }

    // All bytes there, but the payload length ends inside the fragment header.
    const TReceived claimed(Ip6Packet(0, chain, 20));
    ASSERT_TRUE(claimed.Packet);
    EXPECT_EQ(ProtocolText(*claimed.Packet), "");
    EXPECT_EQ(PortText(claimed.Packet->SourcePort), "");
    EXPECT_EQ(claimed.Packet->DataSize, 0u);
}

TEST(PacketParserTest, NothingReceivedIsDropped) {
    EXPECT_FALSE(ParsePacket("10.0.0.1", nullptr, 0));
    const uint8_t one = 0x45;
    EXPECT_FALSE(ParsePacket("10.0.0.1", &one, 1));
}

}  // namespace
}  // namespace tarnwick::testing

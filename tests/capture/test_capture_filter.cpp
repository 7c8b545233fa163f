// Which packets the capture list shows for the filter fields as typed, each
// packet given by the cells the list shows for it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "capture/capture_filter.h"
#include "capture/packet_dump.h"
#include "common/inet_address.h"

namespace tarnwick::testing {
namespace {

struct TCells {
    std::string Proto, SourceIP, SourcePort, DestIP, DestPort;
};

// The packet the list shows with the cells `c`.
TPacketFields PacketOf(const TCells& c) {
    TPacketFields packet;
    packet.V6 = c.SourceIP.find(':') != std::string::npos;
    for (int number = 255; number >= 0; --number)
        if (PacketProtocolName(packet.V6, number) == c.Proto) packet.Protocol = number;
    const auto address = [&packet](const std::string& text) {
        if (packet.V6) return *ParseIp6(text);
        const uint32_t field = *ParseDottedQuad(text);
        return TIp6Address{static_cast<uint8_t>(field), static_cast<uint8_t>(field >> 8),
                           static_cast<uint8_t>(field >> 16), static_cast<uint8_t>(field >> 24)};
    };
    const auto port = [](const std::string& text) {
        return text.empty() ? std::nullopt : std::optional<uint16_t>(static_cast<uint16_t>(std::stoi(text)));
    };
    packet.SourceAddr = address(c.SourceIP);
    packet.DestAddr = address(c.DestIP);
    packet.SourcePort = port(c.SourcePort);
    packet.DestPort = port(c.DestPort);
    return packet;
}

bool Listed(const TCaptureFilter& filter, const TCells& c) {
    const TPacketFields packet = PacketOf(c);
    const TCells shown{ProtocolText(packet), SourceAddressText(packet), PortText(packet.SourcePort),
                       DestAddressText(packet), PortText(packet.DestPort)};
    EXPECT_EQ(std::tie(shown.Proto, shown.SourceIP, shown.SourcePort, shown.DestIP, shown.DestPort),
              std::tie(c.Proto, c.SourceIP, c.SourcePort, c.DestIP, c.DestPort));
    return TPacketFilter(filter).Lists(packet);
}

const TCells kWebOut{"TCP", "10.0.0.1", "50000", "93.184.216.34", "80"};
const TCells kWebIn{"TCP", "93.184.216.34", "80", "10.0.0.1", "50000"};
const TCells kDns{"UDP", "10.0.0.1", "50000", "10.0.0.53", "53"};
const TCells kGre{"", "10.0.0.1", "0", "10.0.0.2", "0"};

TCaptureFilter Filter(std::string a1, std::string p1, std::string a2, std::string p2, std::string proto = "") {
    return TCaptureFilter{std::move(proto), std::move(a1), std::move(a2), std::move(p1), std::move(p2)};
}

TEST(CaptureFilterTest, UnsetFieldsListEverything) {
    for (const TCaptureFilter& filter :
         {TCaptureFilter{}, Filter("0.0.0.0", "abc", "0.0.0.0", "00", " \t"), Filter("0.0.0.0", "", "0.0.0.0", "-0")}) {
        for (const TCells& cells : {kWebOut, kDns, kGre}) EXPECT_TRUE(Listed(filter, cells));
    }
}

TEST(CaptureFilterTest, ProtocolChoiceComparesNames) {
    TCaptureFilter filter;
    filter.Protocol = "TCP";
    EXPECT_TRUE(Listed(filter, kWebOut));
    EXPECT_FALSE(Listed(filter, kDns));
    EXPECT_FALSE(Listed(filter, kGre));
    filter.Protocol = "MAX";
    EXPECT_FALSE(Listed(filter, kWebOut));
    filter.Protocol = "IP";
    EXPECT_FALSE(Listed(filter, kGre));
    EXPECT_TRUE(Listed(filter, {"IP", "1.1.1.1", "0", "2.2.2.2", "0"}));
}

TEST(CaptureFilterTest, AddressesDescribeAConversationInEitherDirection) {
    const TCaptureFilter one = Filter("10.0.0.1", "0", "0.0.0.0", "0");
    EXPECT_TRUE(Listed(one, kWebOut));
    EXPECT_TRUE(Listed(one, kWebIn));
    EXPECT_FALSE(Listed(one, {"TCP", "10.0.0.10", "1", "10.0.0.100", "2"}));  // texts compared exactly

    const TCaptureFilter both = Filter("93.184.216.34", "0", "10.0.0.1", "0");
    EXPECT_TRUE(Listed(both, kWebOut));
    EXPECT_TRUE(Listed(both, kWebIn));
    EXPECT_FALSE(Listed(both, kDns));

    const TCaptureFilter same = Filter("10.0.0.1", "0", "10.0.0.1", "0");
    EXPECT_FALSE(Listed(same, kWebOut));
    EXPECT_TRUE(Listed(same, {"UDP", "10.0.0.1", "5", "10.0.0.1", "6"}));
}

TEST(CaptureFilterTest, PortBelongsToItsEndpointsAddress) {
    // A1 and P1: source A1 with source port P1, or destination A1 with destination port P1.
    const TCaptureFilter a1p1 = Filter("10.0.0.1", "50000", "0.0.0.0", "0");
    EXPECT_TRUE(Listed(a1p1, kWebOut));
    EXPECT_TRUE(Listed(a1p1, kWebIn));
    EXPECT_FALSE(Listed(a1p1, {"TCP", "10.0.0.1", "80", "9.9.9.9", "50000"}));

    // P1 and A2: source port P1 to A2, or from A2 to destination port P1.
    const TCaptureFilter p1a2 = Filter("0.0.0.0", "80", "10.0.0.1", "0");
    EXPECT_TRUE(Listed(p1a2, kWebIn));
    EXPECT_TRUE(Listed(p1a2, kWebOut));
    EXPECT_FALSE(Listed(p1a2, {"TCP", "10.0.0.1", "80", "9.9.9.9", "1"}));

    const TCaptureFilter all = Filter("10.0.0.1", "50000", "93.184.216.34", "80", "TCP");
    EXPECT_TRUE(Listed(all, kWebOut));
    EXPECT_TRUE(Listed(all, kWebIn));
    EXPECT_FALSE(Listed(all, {"TCP", "10.0.0.1", "80", "93.184.216.34", "50000"}));
}

TEST(CaptureFilterTest, PortTextsAreComparedAsTyped) {
    EXPECT_FALSE(Listed(Filter("0.0.0.0", "080", "0.0.0.0", "0"), kWebOut));  // set, equal to no port text
    EXPECT_FALSE(Listed(Filter("0.0.0.0", "0x50", "0.0.0.0", "0"), kWebOut));
    EXPECT_TRUE(Listed(Filter("0.0.0.0", "x80", "0.0.0.0", "0"), kDns));  // not an integer: unset
    EXPECT_TRUE(Listed(Filter("0.0.0.0", "53", "0.0.0.0", "0"), kDns));
}

TEST(CaptureFilterTest, Ip6EndpointsAreComparedByAddressAndNeverMatchTheOtherFamily) {
    const TCells web6{"TCP", "2001:db8::1", "50000", "2606:2800:220:1::", "443"};
    const TCells local6{"UDP", "::1", "5353", "::1", "53"};

    const TCaptureFilter spelled = Filter("2606:2800:0220:0001:0:0:0:0", "443", "2001:DB8::1", "0");
    EXPECT_TRUE(Listed(spelled, web6));
    EXPECT_FALSE(Listed(spelled, local6));
    EXPECT_FALSE(Listed(Filter("2001:db8::1:0", "0", "0.0.0.0", "0"), web6));

    // "::" in any spelling is unset, like 0.0.0.0, and both list either family.
    for (const char* any : {"::", "0::0", "0.0.0.0"}) {
        EXPECT_TRUE(Listed(Filter(any, "53", any, "0"), local6)) << any;
        EXPECT_TRUE(Listed(Filter(any, "53", any, "0"), kDns)) << any;
    }
    EXPECT_TRUE(Listed(Filter("::1", "53", "::", "0"), local6));

    // A set address of one family lists nothing of the other, the mapped form included.
    EXPECT_FALSE(Listed(Filter("10.0.0.1", "0", "0.0.0.0", "0"), {"UDP", "::ffff:10.0.0.1", "1", "::1", "2"}));
    EXPECT_FALSE(Listed(Filter("::ffff:10.0.0.1", "0", "::", "0"), kDns));
    EXPECT_FALSE(Listed(Filter("::1", "0", "0.0.0.0", "0"), {"UDP", "127.0.0.1", "1", "127.0.0.1", "2"}));
}

TEST(CaptureFilterTest, IcmpTypeFiltersLikeAPort) {
    const TCaptureFilter echo = Filter("0.0.0.0", "8", "0.0.0.0", "0", "ICMP");
    EXPECT_TRUE(Listed(echo, {"ICMP", "10.0.0.1", "8", "1.1.1.1", "0"}));
    EXPECT_TRUE(Listed(echo, {"ICMP", "1.1.1.1", "8", "10.0.0.1", "0"}));
    EXPECT_FALSE(Listed(echo, {"ICMP", "1.1.1.1", "0", "10.0.0.1", "0"}));  // echo reply
}

}  // namespace
}  // namespace tarnwick::testing

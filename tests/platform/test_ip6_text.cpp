// The IPv6 text forms are the program's own code, the same on every system:
// here they are held against the C library's inet_ntop and inet_pton.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <random>
#include <string>

#include "common/inet_address.h"

namespace tarnwick {
namespace {

std::string LibraryText(const TIp6Address& address) {
    char text[INET6_ADDRSTRLEN];
    return inet_ntop(AF_INET6, address.data(), text, sizeof text);
}

std::optional<TIp6Address> LibraryParse(const std::string& text) {
    TIp6Address address{};
    if (inet_pton(AF_INET6, text.c_str(), address.data()) != 1) return std::nullopt;
    return address;
}

// Addresses of sparse groups: zero runs of every length at every place,
// IPv4-mapped and IPv4-compatible ones among them.
std::vector<TIp6Address> SampleAddresses() {
    std::mt19937 random(5952);
    std::vector<TIp6Address> samples;
    for (int n = 0; n < 20000; ++n) {
        TIp6Address address{};
        for (size_t group = 0; group < 8; ++group) {
            const unsigned pick = random() % 4;
            const unsigned value = pick == 0 ? random() % 0x10000 : pick == 1 ? random() % 0x100 : 0;
            address[2 * group] = static_cast<uint8_t>(value >> 8);
            address[2 * group + 1] = static_cast<uint8_t>(value);
        }
        if (n % 7 == 0) address[10] = address[11] = 0xff;
        samples.push_back(address);
    }
    samples.push_back(TIp6Address{});
    return samples;
}

TEST(Ip6Text, WritesWhatTheLibraryWrites) {
    for (const TIp6Address& address : SampleAddresses()) {
        const std::string expected = LibraryText(address);
        EXPECT_EQ(Ip6Text(address), expected);
        TInetAddress::TTextBuffer buffer;
        EXPECT_EQ(TInetAddress::Ipv6(address).TextIn(buffer), expected);
    }
}

TEST(Ip6Text, ReadsWhatTheLibraryReads) {
    for (const TIp6Address& address : SampleAddresses()) {
        const std::string text = LibraryText(address);
        EXPECT_EQ(ParseIp6(text), address) << text;
    }
    for (const char* text :
         {"", ":", "::", ":::", "1::", "::1", "1:", ":1", "1::2::3", "1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8:9",
          "1:2:3:4:5:6:7::", "::2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8::", "12345::", "0000:00:0::0", "ABCD::ef",
          "g::1", "::1.2.3.4", "::ffff:1.2.3.4", "::ffff:1.2.3", "::ffff:1.2.3.4.5", "::ffff:01.2.3.4",
          "::ffff:256.2.3.4", "1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:7:1.2.3.4", "1.2.3.4", "::1.2.3.4:5",
          "fe80::1%lo", " ::1", "::1 "})
        EXPECT_EQ(ParseIp6(text), LibraryParse(text)) << '"' << text << '"';
}

}  // namespace
}  // namespace tarnwick

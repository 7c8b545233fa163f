// Which addresses are public: the edges of every range that is not, in both
// families, and IPv4-mapped addresses judged as their IPv4 address.
#include <gtest/gtest.h>

#include "common/inet_address.h"

namespace tarnwick {
namespace {

bool Public(const char* text) {
    if (const auto field = ParseDottedQuad(text)) return IsPublicAddress(TInetAddress::FromIpv4Field(*field));
    return IsPublicAddress(TInetAddress::Ipv6(ParseIp6(text).value()));
}

TEST(PublicAddress, EveryRangeThatIsNotEndsWhereItsPrefixEnds) {
    for (const char* text : {"0.0.0.0",       "0.255.255.255", "10.0.0.0",       "10.255.255.255", "100.64.0.0",
                             "100.127.255.255", "127.0.0.1",   "169.254.0.1",    "172.16.0.0",     "172.31.255.255",
                             "192.168.0.1",   "224.0.0.1",     "239.255.255.255", "240.0.0.1",     "255.255.255.255",
                             "::",            "::1",           "fc00::1",        "fdff::1",        "fe80::1",
                             "febf::1",       "fec0::1",       "ff02::1",        "::ffff:10.0.0.1", "::ffff:127.0.0.1"})
        EXPECT_FALSE(Public(text)) << text;
    for (const char* text : {"1.0.0.0",       "9.255.255.255", "11.0.0.0",      "100.63.255.255", "100.128.0.0",
                             "126.255.255.255", "128.0.0.0",   "169.253.255.255", "169.255.0.0",  "172.15.255.255",
                             "172.32.0.0",    "192.167.255.255", "192.169.0.0",  "223.255.255.255", "::2",
                             "fbff::1",       "2001:db8::1",   "2a00:1450:4001:800::200e", "::ffff:8.8.8.8"})
        EXPECT_TRUE(Public(text)) << text;
}

}  // namespace
}  // namespace tarnwick

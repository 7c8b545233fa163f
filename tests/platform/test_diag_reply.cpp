// The parser of sock_diag replies on malformed input: refused, never walked.
#include "platform/linux/diag_reply.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {
namespace {

TEST(DiagReply, AMessageWhoseLengthRunsPastTheBufferIsRefusedNotWalked) {
    // A whole first message, then a header claiming almost 4 GiB: walking it
    // would step far outside the buffer.
    std::vector<uint8_t> replies(56, 0);
    replies[0] = 36;
    replies[4] = 2;        // NLMSG_ERROR
    replies[38] = 0xFE;    // the second length: 0xFFFE0000
    replies[39] = 0xFF;
    std::vector<TTcpRow> v4, v6;
    EXPECT_EQ(ParseDiagReplies(replies.data(), replies.size(), IPPROTO_TCP, v4, &v6), EBADMSG);
    EXPECT_TRUE(v4.empty());
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

// A reply with a whole tcp_info, and one whose tcp_info ends inside the
// received counter (as an older kernel's shorter one would), as the fuzz
// target's seed holds them.
TEST(DiagReply, ReadsTheByteCountersOnlyFromATcpInfoLongEnoughToHoldThem) {
    const std::string path = std::string(TARNWICK_DIAG_CORPUS) + "/tcp_info_whole_and_short";
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> replies((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(replies.empty()) << path;
    std::vector<TTcpRow> v4;
    ASSERT_EQ(ParseDiagReplies(replies.data(), replies.size(), IPPROTO_TCP, v4, nullptr), 0);
    ASSERT_EQ(v4.size(), 2u);
    EXPECT_TRUE(v4[0].Traffic.Known);
    EXPECT_EQ(std::make_pair(v4[0].Traffic.BytesSent, v4[0].Traffic.BytesReceived), std::make_pair(1000ul, 2500ul));
    EXPECT_FALSE(v4[1].Traffic.Known);
    EXPECT_EQ(v4[1].LocalPort, 40001);  // the row itself still counts
}

}  // namespace
}  // namespace tarnwick

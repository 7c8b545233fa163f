// The parser of sock_diag replies on malformed input: refused, never walked.
#include "platform/linux/diag_reply.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdint>
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
    std::vector<TDiagSocket> v4, v6;
    EXPECT_EQ(ParseDiagReplies(replies.data(), replies.size(), IPPROTO_TCP, v4, &v6), EBADMSG);
    EXPECT_TRUE(v4.empty());
}

}  // namespace
}  // namespace tarnwick

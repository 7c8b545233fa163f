// The program's reading of the helper's replies: all of an honest one, and
// nothing past what no honest helper sends.
#include "platform/linux/helper_reply_reader.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using TMessages = std::vector<std::vector<uint8_t>>;

std::vector<THelperOwner> OwnersOf(const std::vector<uint64_t>& inodes) {
    std::vector<THelperOwner> owners;
    for (const uint64_t inode : inodes) owners.push_back({inode, static_cast<uint32_t>(inode % 7 + 1), "prog"});
    return owners;
}

// What feeding `messages` to `reader` came to: the index of the first it
// rejected (-1 for none), and the problem said.
struct TRejection {
    int Index = -1;
    std::string Problem;
};
TRejection FirstRejected(THelperReplyReader& reader, const TMessages& messages) {
    for (size_t i = 0; i < messages.size(); ++i) {
        if (const TResult<THelperReply> reply = reader.Add(messages[i]); !reply)
            return {static_cast<int>(i), reply.Failure().Text()};
    }
    return {};
}

TEST(HelperReplyReader, ReadsAnHonestOwnersReplyOfSeveralMessagesWhole) {
    std::vector<uint64_t> asked;
    for (uint64_t i = 1; i <= 9000; ++i) asked.push_back(i * 3);
    // Some asked for are held by no process, and so missing from the reply.
    std::vector<uint64_t> held;
    for (size_t i = 0; i < asked.size(); i += 2) held.push_back(asked[i]);
    const TMessages messages = EncodeOwnersReply(OwnersOf(held));
    ASSERT_GT(messages.size(), 1u);
    THelperReplyReader reader(asked);
    const TRejection rejected = FirstRejected(reader, messages);
    EXPECT_EQ(rejected.Index, -1) << rejected.Problem;
    EXPECT_TRUE(reader.Complete());
    ASSERT_EQ(reader.Owners().size(), held.size());
    EXPECT_EQ(reader.Owners().back().Inode, held.back());
}

TEST(HelperReplyReader, RejectsWhatNoHonestReplyHolds) {
    const auto verb = static_cast<uint8_t>(THelperVerb::SocketOwners);
    const std::vector<uint8_t> emptyButMore = {kHelperProtocolVersion, verb, 0, kHelperMoreFollows};
    const auto continued = [](std::vector<uint8_t> message) {
        message[3] = kHelperMoreFollows;
        return message;
    };
    const auto reply = [](const std::vector<uint64_t>& inodes) { return EncodeOwnersReply(OwnersOf(inodes)).front(); };
    const std::vector<uint64_t> asked = {10, 20, 30};
    struct TCase {
        const char* What;
        TMessages Messages;
        size_t MostOfAll = kMaxOwnersOfAll;
        bool AskAll = false;
    };
    const TCase cases[] = {
        {"more follow, without owners", {emptyButMore}},
        {"a socket not asked for", {reply({10, 25})}},
        {"owners out of order", {reply({20, 10})}},
        {"an owner repeated across messages", {continued(reply({10, 20})), reply({20})}},
        {"more than every socket may name", {continued(reply({1, 2})), reply({3})}, 2, true},
        {"a failure after owners", {continued(reply({10})), EncodeStatusReply(verb, THelperStatus::Failed, 5, "x")}},
        {"a message after the last", {reply({10}), reply({20})}},
    };
    for (const TCase& c : cases) {
        THelperReplyReader reader = c.AskAll ? THelperReplyReader({}, c.MostOfAll) : THelperReplyReader(asked);
        const TRejection rejected = FirstRejected(reader, c.Messages);
        EXPECT_EQ(rejected.Index, static_cast<int>(c.Messages.size()) - 1) << c.What;
        EXPECT_FALSE(rejected.Problem.empty()) << c.What;
    }
    // A request answered by one message has no continuation.
    THelperReplyReader kill(THelperVerb::KillTcp);
    std::vector<uint8_t> killReply = EncodeStatusReply(static_cast<uint8_t>(THelperVerb::KillTcp), THelperStatus::Ok);
    EXPECT_FALSE(kill.Add(continued(killReply)).Ok());
}

}  // namespace
}  // namespace tarnwick

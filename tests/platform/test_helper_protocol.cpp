// tarnwick-helper's side of its protocol: every malformed or disallowed
// request refused by the parser, and the serving loop over a real socket
// pair with fake actions (what a request makes the helper do is tested
// end to end by tests/cli/test_cli_helper.sh).
#include "platform/linux/helper_protocol.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <variant>

#include "platform/linux/helper_server.h"

namespace tarnwick {
namespace {

TTcpRow Ipv4Row() {
    TTcpRow row;
    row.State = TTcpState::Established;
    row.LocalAddr = TInetAddress::Ipv4(127, 0, 0, 1);
    row.LocalPort = 40001;
    row.RemoteAddr = TInetAddress::Ipv4(10, 1, 2, 3);
    row.RemotePort = 443;
    return row;
}

TTcpRow Ipv6Row() {
    TTcpRow row;
    row.State = TTcpState::Established;
    row.LocalAddr = TInetAddress::Ipv6(*ParseIp6("::1"));
    row.RemoteAddr = TInetAddress::Ipv6(*ParseIp6("fe80::2"));
    row.LocalPort = 5000;
    row.RemotePort = 6000;
    row.Interface = 7;
    return row;
}

std::string RefusalOf(const std::vector<uint8_t>& message) {
    const auto parsed = ParseHelperRequest(message);
    const auto* refusal = std::get_if<THelperRefusal>(&parsed);
    return refusal ? refusal->Reason : std::string();
}

TEST(HelperRequestParser, RefusesMalformedHeadersAndUnknownVerbs) {
    EXPECT_NE(RefusalOf({}), "");
    EXPECT_NE(RefusalOf({kHelperProtocolVersion, 0x11, 0}), "");  // shorter than a header
    const uint8_t other = kHelperProtocolVersion + 1;
    EXPECT_NE(RefusalOf({other, 0x11, 0, 0}).find("protocol version " + std::to_string(other)), std::string::npos);
    EXPECT_NE(RefusalOf({kHelperProtocolVersion, 0x11, 0, 1}), "");  // only an owners request continues
    EXPECT_NE(RefusalOf({kHelperProtocolVersion, 0x7F, 0, 0}).find("unknown request"), std::string::npos);
    EXPECT_NE(RefusalOf({kHelperProtocolVersion, 0x01, 0, 0}).find("unknown request"), std::string::npos);  // hello
    EXPECT_NE(RefusalOf({kHelperProtocolVersion, 0x11, 0, 0, 1, 0, 0}), "");  // a capture request cut short
    EXPECT_NE(RefusalOf(EncodeCaptureRequest(0)).find("index 0"), std::string::npos);
    EXPECT_EQ(RefusalOf(EncodeCaptureRequest(2)), "");
    // The verb of a refused request is echoed, so the reply matches it.
    const auto parsed = ParseHelperRequest(std::vector<uint8_t>{kHelperProtocolVersion, 0x7F, 0, 0});
    EXPECT_EQ(std::get<THelperRefusal>(parsed).Verb, 0x7F);
}

TEST(HelperRequestParser, ACloseRequestReadsBackAsItsRowAndNothingElseIsClosed) {
    for (const TTcpRow& row : {Ipv4Row(), Ipv6Row()}) {
        const auto parsed = ParseHelperRequest(EncodeKillRequest(row));
        ASSERT_TRUE(std::holds_alternative<THelperRequest>(parsed)) << std::get<THelperRefusal>(parsed).Reason;
        const TTcpRow back = std::get<THelperKillRequest>(std::get<THelperRequest>(parsed)).Row;
        EXPECT_EQ(back.LocalAddr, row.LocalAddr);
        EXPECT_EQ(back.RemoteAddr, row.RemoteAddr);
        EXPECT_EQ(back.LocalPort, row.LocalPort);
        EXPECT_EQ(back.RemotePort, row.RemotePort);
        EXPECT_EQ(back.Interface, row.Interface);
    }

    // The state travels as its number, which helpers of other builds read.
    EXPECT_EQ(EncodeKillRequest(Ipv4Row()).at(kHelperHeaderSize + 1), 5);

    std::vector<uint8_t> longer = EncodeKillRequest(Ipv4Row());
    longer.push_back(0);
    EXPECT_NE(RefusalOf(longer).find("not 45"), std::string::npos);
    std::vector<uint8_t> shorter = EncodeKillRequest(Ipv4Row());
    shorter.pop_back();
    EXPECT_NE(RefusalOf(shorter), "");

    TTcpRow listener = Ipv4Row();  // as the tables show a listener
    listener.State = TTcpState::Listening;
    EXPECT_EQ(RefusalOf(EncodeKillRequest(listener)), "only established connections are closed");
    listener.State = TTcpState::Established;  // and claimed established
    listener.RemoteAddr = {};
    listener.RemotePort = 0;
    EXPECT_EQ(RefusalOf(EncodeKillRequest(listener)), "a listening or unconnected socket is not a connection");
    TTcpRow wildcard = Ipv6Row();
    wildcard.LocalAddr = TInetAddress::Ipv6({});
    EXPECT_EQ(RefusalOf(EncodeKillRequest(wildcard)), "a listening or unconnected socket is not a connection");
    TTcpRow closing = Ipv6Row();
    closing.State = TTcpState::CloseWait;
    EXPECT_NE(RefusalOf(EncodeKillRequest(closing)), "");

    // Field by field: family, reserved, bytes past an IPv4 address, an IPv4 interface.
    const std::vector<uint8_t> good = EncodeKillRequest(Ipv4Row());
    for (const auto& [offset, value] :
         std::initializer_list<std::pair<int, int>>{{4, 5}, {6, 1}, {4 + 4 + 8, 1}, {4 + 20 + 15, 1}, {4 + 40, 1}}) {
        std::vector<uint8_t> bad = good;
        bad[static_cast<size_t>(offset)] = static_cast<uint8_t>(value);
        EXPECT_NE(RefusalOf(bad), "") << "byte " << offset;
    }
}

TEST(HelperRequestParser, AnOwnersRequestHasExactlyTheInodesItCounts) {
    const auto parsed = ParseHelperRequest(EncodeOwnersRequest(std::vector<uint64_t>{5, 9}).front());
    ASSERT_TRUE(std::holds_alternative<THelperRequest>(parsed));
    EXPECT_EQ(std::get<THelperOwnersRequest>(std::get<THelperRequest>(parsed)).Inodes, (std::vector<uint64_t>{5, 9}));
    EXPECT_EQ(RefusalOf(EncodeOwnersRequest({}).front()), "");  // all of them

    std::vector<uint8_t> missing = EncodeOwnersRequest(std::vector<uint64_t>{5, 9}).front();
    missing.resize(missing.size() - 8);
    EXPECT_NE(RefusalOf(missing), "");
    std::vector<uint8_t> countless = EncodeOwnersRequest({}).front();
    countless.resize(kHelperHeaderSize + 2);
    EXPECT_NE(RefusalOf(countless), "");
    EXPECT_NE(RefusalOf(EncodeOwnersRequest(std::vector<uint64_t>{5, 0}).front()).find("inode 0"), std::string::npos);
    // One message holds so many; the first of a longer request, unflagged
    // and counting one more, is refused.
    std::vector<uint8_t> crowded = EncodeOwnersRequest(std::vector<uint64_t>(kMaxOwnerInodesPerMessage + 1, 1)).front();
    crowded[3] = 0;
    crowded[kHelperHeaderSize] += 1;
    crowded.insert(crowded.end(), 8, 1);
    EXPECT_NE(RefusalOf(crowded).find("more than"), std::string::npos);
    // A continued message names at least one socket.
    std::vector<uint8_t> emptyPart = EncodeOwnersRequest({}).front();
    emptyPart[3] = kHelperMoreFollows;
    EXPECT_NE(RefusalOf(emptyPart), "");
}

// Records what the serving loop asks of it.
class TFakeActions final : public THelperActions {
public:
    uint32_t Abilities() override { return kHelperCanKill | kHelperCanReadOwners; }
    TStatus KillTcp(const TTcpRow& row) override {
        Killed.push_back(row);
        if (KillFailure) return *KillFailure;
        return {};
    }
    TResult<TUniqueFd> OpenCapture(uint32_t interfaceIndex) override {
        Captured.push_back(interfaceIndex);
        if (CaptureFailure) return *CaptureFailure;
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return FailureFromErrno("socketpair");
        close(ends[1]);
        return TUniqueFd(ends[0]);
    }
    std::vector<THelperOwner> SocketOwners(const std::vector<uint64_t>& inodes) override {
        Asked.push_back(inodes);
        return Owners;
    }

    std::vector<TTcpRow> Killed;
    std::vector<std::vector<uint64_t>> Asked;
    std::vector<uint32_t> Captured;
    std::optional<TFailure> KillFailure;
    std::optional<TFailure> CaptureFailure;
    std::vector<THelperOwner> Owners;
};

// The helper's loop on one end of a socket pair, on a thread of its own; the
// test is the program on the other end.
class THelperSession : public ::testing::Test {
protected:
    void SetUp() override {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
        Program.Reset(ends[0]);
        Helper.Reset(ends[1]);
    }
    void StartServing() {
        Server = std::thread([this] { Result = ServeHelperRequests(Helper.Get(), Actions, [] { return true; }); });
        ASSERT_EQ(ParseHelloBody(Receive(THelperVerb::Hello).Body), Abilities());
    }
    void TearDown() override {
        Program.Reset();
        if (Server.joinable()) Server.join();
    }
    uint32_t Abilities() { return Actions.Abilities(); }

    void Send(const std::vector<uint8_t>& message, int passedFd = -1) {
        ASSERT_TRUE(SendHelperMessage(Program.Get(), message, passedFd));
    }
    void Send(const std::vector<std::vector<uint8_t>>& messages) {
        for (const std::vector<uint8_t>& message : messages) Send(message);
    }

    // Receives one reply to `verb`; a passed descriptor lands in Passed.
    THelperReply Receive(THelperVerb verb) {
        Buffer.assign(kMaxHelperReplySize, 0);
        iovec part{Buffer.data(), Buffer.size()};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t received = recvmsg(Program.Get(), &header, MSG_CMSG_CLOEXEC);
        EXPECT_GT(received, 0);
        Buffer.resize(static_cast<size_t>(std::max<ssize_t>(received, 0)));
        if (cmsghdr* rights = CMSG_FIRSTHDR(&header)) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(rights), sizeof fd);
            Passed.Reset(fd);
        }
        const TResult<THelperReply> reply = ParseHelperReply(Buffer, verb);
        EXPECT_TRUE(reply.Ok()) << (reply ? "" : reply.Failure().Text());
        return reply ? *reply : THelperReply{};
    }

    TFakeActions Actions;
    TUniqueFd Program;
    TUniqueFd Helper;
    TUniqueFd Passed;
    std::vector<uint8_t> Buffer;
    std::thread Server;
    int Result = -1;
};

TEST_F(THelperSession, ServesValidRequestsAndRefusesTheRestWithoutEnding) {
    StartServing();
    Send({kHelperProtocolVersion, 0x7F, 0, 0});
    THelperReply reply = Receive(static_cast<THelperVerb>(0x7F));
    EXPECT_EQ(reply.Status, THelperStatus::Refused);
    EXPECT_NE(reply.Reason.find("unknown request"), std::string::npos);

    TTcpRow listener = Ipv4Row();
    listener.State = TTcpState::Listening;
    Send(EncodeKillRequest(listener));
    EXPECT_EQ(Receive(THelperVerb::KillTcp).Status, THelperStatus::Refused);
    EXPECT_TRUE(Actions.Killed.empty());

    // Longer than any request: refused whole, not read in parts.
    Send(std::vector<uint8_t>(kMaxHelperRequestSize + 1, kHelperProtocolVersion));
    EXPECT_NE(Receive(static_cast<THelperVerb>(kHelperProtocolVersion)).Reason.find("longer than"),
              std::string::npos);
    // A descriptor sent along is dropped, and the request refused.
    Send(EncodeCaptureRequest(1), STDIN_FILENO);
    EXPECT_EQ(Receive(THelperVerb::OpenCapture).Reason, "a request carries no descriptors");

    Actions.KillFailure = TFailure{ENOENT, "the connection no longer exists"};
    Send(EncodeKillRequest(Ipv6Row()));
    reply = Receive(THelperVerb::KillTcp);
    EXPECT_EQ(reply.Status, THelperStatus::Failed);
    EXPECT_EQ(reply.Error, ENOENT);
    EXPECT_EQ(reply.Reason, "the connection no longer exists");
    ASSERT_EQ(Actions.Killed.size(), 1u);
    EXPECT_EQ(Actions.Killed[0].Interface, 7u);

    Send(EncodeCaptureRequest(0x01020304));
    reply = Receive(THelperVerb::OpenCapture);
    EXPECT_EQ(reply.Status, THelperStatus::Ok);
    EXPECT_TRUE(Passed.IsValid());
    EXPECT_EQ(Actions.Captured, std::vector<uint32_t>{0x01020304});

    Actions.CaptureFailure = TFailure{EBUSY, "running as many captures as it may"};
    Passed.Reset();
    Send(EncodeCaptureRequest(2));
    reply = Receive(THelperVerb::OpenCapture);
    EXPECT_EQ(reply.Status, THelperStatus::Failed);
    EXPECT_EQ(reply.Error, EBUSY);
    EXPECT_EQ(reply.Reason, "running as many captures as it may");
    EXPECT_FALSE(Passed.IsValid());
}

TEST_F(THelperSession, ManyOwnersComeInSeveralRepliesAndReadBackWhole) {
    for (uint32_t i = 1; i <= 3000; ++i) Actions.Owners.push_back({1000 + i, i, std::string(i % 40, 'n')});
    Actions.Owners.push_back({1, 2, std::string(kMaxHelperNameSize + 5, 'x')});  // cut to the limit
    StartServing();
    Send(EncodeOwnersRequest({}).front());
    std::vector<THelperOwner> owners;
    int replies = 0;
    for (bool more = true; more; ++replies) {
        const THelperReply reply = Receive(THelperVerb::SocketOwners);
        ASSERT_EQ(reply.Status, THelperStatus::Ok);
        EXPECT_LE(Buffer.size(), kMaxOwnersReplySize);
        ASSERT_TRUE(ParseOwnersBody(reply.Body, owners));
        more = reply.MoreFollows;
    }
    EXPECT_GT(replies, 1);
    ASSERT_EQ(owners.size(), Actions.Owners.size());
    EXPECT_EQ(owners[2999].Inode, 4000u);
    EXPECT_EQ(owners[2999].Name, std::string(3000 % 40, 'n'));
    EXPECT_EQ(owners.back().Name.size(), kMaxHelperNameSize);
}

TEST_F(THelperSession, AnOwnersRequestOfSeveralMessagesIsServedOnceWhole) {
    Actions.Owners.push_back({7, 70, "seven"});
    std::vector<uint64_t> inodes(2 * kMaxOwnerInodesPerMessage + 3);
    for (size_t i = 0; i < inodes.size(); ++i) inodes[i] = 1 + i * 3;
    const std::vector<std::vector<uint8_t>> messages = EncodeOwnersRequest(inodes);
    EXPECT_GT(messages.size(), 1u);
    for (const std::vector<uint8_t>& message : messages) EXPECT_LE(message.size(), kMaxHelperRequestSize);
    StartServing();
    Send(messages);
    const THelperReply reply = Receive(THelperVerb::SocketOwners);
    ASSERT_EQ(reply.Status, THelperStatus::Ok);
    EXPECT_FALSE(reply.MoreFollows);
    ASSERT_EQ(Actions.Asked.size(), 1u);
    EXPECT_EQ(Actions.Asked[0], inodes);
}

TEST_F(THelperSession, ABrokenOwnersRequestIsRefusedOnceAndTheNextIsServed) {
    const std::vector<std::vector<uint8_t>> good = EncodeOwnersRequest(std::vector<uint64_t>(kMaxOwnerInodesPerMessage + 1, 4));
    std::vector<uint8_t> zeroPart = EncodeOwnersRequest(std::vector<uint64_t>{5, 0}).front();
    zeroPart[3] = kHelperMoreFollows;
    StartServing();
    const auto expectRefused = [&](const std::string& reason) {
        const THelperReply reply = Receive(THelperVerb::SocketOwners);
        EXPECT_EQ(reply.Status, THelperStatus::Refused);
        EXPECT_NE(reply.Reason.find(reason), std::string::npos) << reply.Reason;
    };

    // A malformed message midway: refused after the last, not before.
    Send({good[0], zeroPart, good[1]});
    expectRefused("inode 0");
    // Another request before the last message is part of the broken one.
    Send(good[0]);
    Send(EncodeKillRequest(Ipv4Row()));
    expectRefused("another request");
    EXPECT_TRUE(Actions.Killed.empty());
    // Too many sockets in all.
    Send(EncodeOwnersRequest(std::vector<uint64_t>(kMaxOwnerInodes + 1, 6)));
    expectRefused("more than " + std::to_string(kMaxOwnerInodes));
    EXPECT_TRUE(Actions.Asked.empty());

    Send(good);
    EXPECT_EQ(Receive(THelperVerb::SocketOwners).Status, THelperStatus::Ok);
    ASSERT_EQ(Actions.Asked.size(), 1u);
    EXPECT_EQ(Actions.Asked[0], std::vector<uint64_t>(kMaxOwnerInodesPerMessage + 1, 4));
}

TEST_F(THelperSession, EndsWhenTheProgramGoesAwayMidRequest) {
    for (uint32_t i = 1; i <= 5000; ++i) Actions.Owners.push_back({i, i, "owner"});
    StartServing();
    // Asked for owners, the program leaves before reading a single reply: the
    // helper's writes fail (no SIGPIPE), and it ends normally.
    Send(EncodeOwnersRequest({}).front());
    Program.Reset();
    Server.join();
    EXPECT_EQ(Result, 0);
}

TEST_F(THelperSession, EndsAtOnceWhenTheProgramIsGoneBeforeTheHello) {
    Program.Reset();
    EXPECT_EQ(ServeHelperRequests(Helper.Get(), Actions, [] { return true; }), 0);
}

}  // namespace
}  // namespace tarnwick

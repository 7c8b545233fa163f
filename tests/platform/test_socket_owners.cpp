#include "platform/linux/socket_owners.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <vector>

#include "loopback_helpers.h"
#include "platform/linux/helper_server.h"

namespace tarnwick {
namespace {

// A /proc look-alike: pid directories with fd links, as the kernel shows them.
class TFakeProc : public ::testing::Test {
protected:
    void AddFd(const std::string& pid, const std::string& fd, const std::string& target) {
        Root.MakeDir(pid + "/fd");
        Root.MakeSymlink(pid + "/fd/" + fd, target);
    }

    test::TTempDir Root;
};

TEST_F(TFakeProc, MapsSocketLinksToTheirProcess) {
    AddFd("100", "3", "socket:[5001]");
    AddFd("100", "4", "socket:[5002]");
    AddFd("200", "0", "socket:[18446744073709551615]");  // the largest inode
    const TSocketOwners owners = TSocketOwners::Scan(Root.Path());
    EXPECT_EQ(owners.Size(), 3u);
    EXPECT_EQ(owners.PidOf(5001), 100u);
    EXPECT_EQ(owners.PidOf(5002), 100u);
    EXPECT_EQ(owners.PidOf(18446744073709551615u), 200u);
    EXPECT_EQ(owners.PidOf(5003), 0u);
    EXPECT_EQ(owners.PidOf(0), 0u);
}

TEST_F(TFakeProc, SharedSocketGoesToTheLowestPidWhateverTheScanOrder) {
    AddFd("300", "5", "socket:[77]");
    AddFd("20", "9", "socket:[77]");
    AddFd("1000", "1", "socket:[77]");
    EXPECT_EQ(TSocketOwners::Scan(Root.Path()).PidOf(77), 20u);
}

TEST_F(TFakeProc, IgnoresEverythingThatIsNotAProcessSocketLink) {
    AddFd("100", "0", "/dev/null");
    AddFd("100", "1", "pipe:[123]");
    AddFd("100", "2", "anon_inode:[eventfd]");
    AddFd("100", "3", "socket:[]");
    AddFd("100", "4", "socket:[12x]");
    AddFd("100", "5", "socket:[99999999999999999999999]");  // overflows 64 bits
    AddFd("100", "6", "socket:[42");
    AddFd("self", "7", "socket:[43]");         // not a pid directory
    AddFd("0", "8", "socket:[44]");            // 0 is no process
    AddFd("12345678901", "9", "socket:[45]");  // longer than any pid
    Root.MakeDir("300");                       // a process whose fds are gone
    Root.WriteFile("400", "");                 // not even a directory
    const TSocketOwners owners = TSocketOwners::Scan(Root.Path());
    EXPECT_EQ(owners.Size(), 0u);
}

TEST(SocketOwners, MissingProcGivesAnEmptyMap) {
    EXPECT_EQ(TSocketOwners::Scan("/nonexistent/proc").Size(), 0u);
}

TEST(SocketOwners, FindsOurOwnSocketInTheRealProc) {
    const TUniqueFd socket = test::UdpSocket();
    struct stat info {};
    ASSERT_EQ(fstat(socket.Get(), &info), 0);
    EXPECT_EQ(TSocketOwners::Scan().PidOf(info.st_ino), static_cast<uint32_t>(getpid()));
}

uint64_t InodeOf(int fd) {
    struct stat info {};
    EXPECT_EQ(fstat(fd, &info), 0);
    return info.st_ino;
}

// One byte over `channel`, with `fd` passed along when not negative.
void SendOp(int channel, char op, int fd = -1) {
    if (!SendHelperMessage(channel, {static_cast<uint8_t>(op)}, fd)) std::abort();
}

// One message from `channel`: its byte, and the descriptor passed with it in `fd`.
char ReceiveOp(int channel, TUniqueFd& fd) {
    char op = 0;
    iovec part{&op, 1};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    if (recvmsg(channel, &header, MSG_CMSG_CLOEXEC) <= 0) return 0;
    if (const cmsghdr* rights = CMSG_FIRSTHDR(&header); rights != nullptr && rights->cmsg_type == SCM_RIGHTS) {
        int passed = -1;
        std::memcpy(&passed, CMSG_DATA(rights), sizeof passed);
        fd.Reset(passed);
    }
    return op;
}

// A child holding copies of our descriptors, which over a SOCK_SEQPACKET pair
// keeps sockets passed to it ('k'), makes a UDP socket and passes it back
// while keeping it ('n'), makes one and keeps it ('m'), closes the oldest
// socket it holds ('x'), passes that one back and closes it ('g': closed by
// the time it answers the next message), or closes every socket it was given
// or made ('c'); it answers each with 'y'.
class TPassingChild {
public:
    TPassingChild() {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
        Channel_.Reset(pair[0]);
        TUniqueFd childEnd(pair[1]);
        // A child that stops answering fails the test instead of hanging it.
        const timeval timeout{10, 0};
        setsockopt(Channel_.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const pid_t pid = fork();
        if (pid < 0) std::abort();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            Serve(childEnd.Get());
        }
        Child_.emplace(pid);
    }

    pid_t Pid() const { return Child_->Pid(); }

    // Sends `op` (with `fd`) and waits for the answer; the socket the child
    // passed back, if any.
    TUniqueFd Ask(char op, int fd = -1) {
        SendOp(Channel_.Get(), op, fd);
        TUniqueFd passed;
        EXPECT_EQ(ReceiveOp(Channel_.Get(), passed), 'y');
        return passed;
    }

private:
    [[noreturn]] static void Serve(int channel) {
        std::vector<TUniqueFd> held;
        for (;;) {
            TUniqueFd fd;
            const char op = ReceiveOp(channel, fd);
            if (op == 0) _exit(0);
            if (op == 'k') held.push_back(std::move(fd));
            TUniqueFd made;
            if (op == 'n') {
                made.Reset(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
                held.emplace_back(dup(made.Get()));
            }
            if (op == 'm') held.emplace_back(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
            if ((op == 'x' || op == 'g') && !held.empty()) {
                if (op == 'g') made = std::move(held.front());
                held.erase(held.begin());
            }
            if (op == 'c') held.clear();
            SendOp(channel, 'y', made.Get());
        }
    }

    TUniqueFd Channel_;
    std::optional<test::TChild> Child_;
};

class TSocketOwnerCacheTest : public ::testing::TestWithParam<TSocketOwnerCache::TCheck> {
protected:
    // The cache's owners of `sockets` are a full scan's; returns the cache's.
    std::vector<uint32_t> Owners(const std::vector<uint64_t>& sockets) {
        std::vector<uint64_t> wanted = sockets;
        wanted.push_back(UINT64_MAX - 1);  // held by no process
        std::sort(wanted.begin(), wanted.end());
        const TSocketOwners cached = Cache.Find(wanted);
        const TSocketOwners scanned = TSocketOwners::Scan();
        std::vector<uint32_t> pids;
        for (uint64_t inode : sockets) {
            EXPECT_EQ(cached.PidOf(inode), scanned.PidOf(inode)) << "socket " << inode;
            pids.push_back(cached.PidOf(inode));
        }
        EXPECT_EQ(cached.PidOf(UINT64_MAX - 1), 0u);
        return pids;
    }

    TSocketOwnerCache Cache{GetParam()};
};

TEST_P(TSocketOwnerCacheTest, FollowsSocketsThroughForksAndPassingAsAFullScanWould) {
    const auto self = static_cast<uint32_t>(getpid());
    const TUniqueFd listener = test::TcpListener();
    test::TTcpConnection connection = test::Connect(listener.Get());
    TUniqueFd udp = test::UdpSocket();
    const uint64_t client = InodeOf(connection.Client.Get());
    const uint64_t udpInode = InodeOf(udp.Get());
    EXPECT_EQ(Owners({client, udpInode}), (std::vector<uint32_t>{self, self}));

    // Forked: both hold them, and the lower pid stays the owner until it closes one.
    TPassingChild child;
    const auto childPid = static_cast<uint32_t>(child.Pid());
    EXPECT_EQ(Owners({client, udpInode}), (std::vector<uint32_t>{self, self}));
    connection.Client.Reset();
    EXPECT_EQ(Owners({client, udpInode}), (std::vector<uint32_t>{childPid, self}));

    // Passed to us while the child keeps it: the lower pid, ours.
    TUniqueFd made = child.Ask('n');
    const uint64_t madeInode = InodeOf(made.Get());
    EXPECT_EQ(Owners({madeInode}), (std::vector<uint32_t>{self}));
    made.Reset();
    EXPECT_EQ(Owners({madeInode}), (std::vector<uint32_t>{childPid}));

    // Passed to the child, and closed here.
    TUniqueFd given = test::UdpSocket();
    const uint64_t givenInode = InodeOf(given.Get());
    EXPECT_EQ(Owners({givenInode}), (std::vector<uint32_t>{self}));
    child.Ask('k', given.Get());
    given.Reset();
    EXPECT_EQ(Owners({givenInode, client, madeInode}), (std::vector<uint32_t>{childPid, childPid, childPid}));

    // Closed by the child: held by no one, or by us again.
    child.Ask('c');
    EXPECT_EQ(Owners({givenInode, madeInode, udpInode}), (std::vector<uint32_t>{0, 0, self}));
}

TEST(SocketOwnerCache, FindsASocketOpenedInPlaceOfAnotherDescriptorInTheFirstLook) {
    TSocketOwnerCache cache;
    const TUniqueFd kept = test::UdpSocket();
    TUniqueFd file(open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(cache.Find({InodeOf(kept.Get())}).PidOf(InodeOf(kept.Get())), static_cast<uint32_t>(getpid()));
    // The same number of descriptors, one of them a new socket.
    file.Reset();
    const TUniqueFd fresh = test::UdpSocket();
    const uint64_t inode = InodeOf(fresh.Get());
    EXPECT_EQ(cache.Find({inode}).PidOf(inode), static_cast<uint32_t>(getpid()));
}

// Two children whose descriptor counts never change between two looks: the
// sender closes a socket and opens another, and hands a socket to the
// receiver in place of one it opens.
class TSocketHandOver : public ::testing::Test {
protected:
    void SetUp() override {
        Sender.Ask('m');
        Receiver.Ask('m');
    }

    // The sender hands its oldest socket to the receiver; returns its inode.
    uint64_t HandOver() {
        TUniqueFd given = Sender.Ask('g');
        const uint64_t inode = InodeOf(given.Get());
        Sender.Ask('m');
        Receiver.Ask('k', given.Get());
        return inode;
    }

    // Every socket a full scan gives to one of the children.
    std::vector<uint64_t> ChildrensSockets(const TSocketOwners& scanned) const {
        std::vector<uint64_t> inodes;
        for (const auto& [inode, pid] : scanned.Entries()) {
            if (pid == static_cast<uint32_t>(Sender.Pid()) || pid == static_cast<uint32_t>(Receiver.Pid()))
                inodes.push_back(inode);
        }
        return inodes;
    }

    TSocketOwnerCache Cache;
    TPassingChild Sender;
    TPassingChild Receiver;
};

TEST_F(TSocketHandOver, EveryLookAgreesWithAFullScan) {
    const auto look = [this](const std::vector<uint64_t>& wanted) {
        const TSocketOwners scanned = TSocketOwners::Scan();
        const TSocketOwners cached = Cache.Find(wanted);
        for (const uint64_t inode : wanted) EXPECT_EQ(cached.PidOf(inode), scanned.PidOf(inode)) << "socket " << inode;
    };
    std::vector<uint64_t> wanted = ChildrensSockets(TSocketOwners::Scan());
    ASSERT_GE(wanted.size(), 2u);
    look(wanted);
    for (int round = 0; round < 6; ++round) {
        // Nothing new asked for: only the receiver's grown count shows the move.
        HandOver();
        look(wanted);
        Sender.Ask('x');
        Sender.Ask('m');
        wanted = ChildrensSockets(TSocketOwners::Scan());
        look(wanted);
    }
}

// Neither count changes, and nothing asked for is new: only reading back the
// sender's link for the socket shows the move.
TEST_F(TSocketHandOver, ToAProcessWhoseCountStaysTheSameWithinTheVerificationPeriod) {
    const std::vector<uint64_t> wanted = ChildrensSockets(TSocketOwners::Scan());
    Cache.Find(wanted);
    const uint64_t given = HandOver();
    Receiver.Ask('x');
    ASSERT_TRUE(std::binary_search(wanted.begin(), wanted.end(), given));
    uint32_t owner = 0;
    for (uint64_t look = 0; look < TSocketOwnerCache::kVerifyEvery && owner != static_cast<uint32_t>(Receiver.Pid()); ++look)
        owner = Cache.Find(wanted).PidOf(given);
    EXPECT_EQ(owner, static_cast<uint32_t>(Receiver.Pid()));
}

TEST(SocketOwnerCache, RemembersMissingSocketsUpToItsBound) {
    TSocketOwnerCache cache;
    // Numbers no socket has; two requests' worth of them, each up to the bound.
    const auto unknown = [](uint64_t first) {
        std::vector<uint64_t> inodes(TSocketOwnerCache::kMaxMissingKept);
        for (size_t i = 0; i < inodes.size(); ++i) inodes[i] = first + 2 * i;
        return inodes;
    };
    const std::vector<uint64_t> older = unknown(uint64_t{1} << 62);
    const std::vector<uint64_t> newer = unknown((uint64_t{1} << 62) + 1);
    cache.Find(older);
    cache.Find(newer);
    EXPECT_EQ(cache.RememberedMissing(), TSocketOwnerCache::kMaxMissingKept);
    // Room for one more is made by dropping one.
    cache.Find({older.front()});
    EXPECT_EQ(cache.RememberedMissing(), TSocketOwnerCache::kMaxMissingKept);
}

INSTANTIATE_TEST_SUITE_P(CheckedByCountOrLinks, TSocketOwnerCacheTest,
                         ::testing::Values(TSocketOwnerCache::TCheck::CountWhereKnown,
                                           TSocketOwnerCache::TCheck::Links));

}  // namespace
}  // namespace tarnwick

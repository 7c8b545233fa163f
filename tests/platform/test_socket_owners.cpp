#include "platform/linux/socket_owners.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "loopback_helpers.h"

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

}  // namespace
}  // namespace tarnwick

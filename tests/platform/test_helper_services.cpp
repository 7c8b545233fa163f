// The program's side of tarnwick-helper against the real helper program,
// started the way the window starts it.
#include "platform/linux/helper_services.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "loopback_helpers.h"

namespace tarnwick {
namespace {

using test::RoomForDescriptors;

TEST(HelperSocketOwners, ManySocketsAreAskedForByNameAndOwnedAsAFullScanSees) {
    // More sockets than one message of a request names, all ours.
    const size_t count = 2 * kMaxOwnerInodesPerMessage + 2;
    if (!RoomForDescriptors(count)) GTEST_SKIP() << "no room for " << count << " descriptors";
    std::vector<TUniqueFd> sockets;
    std::vector<uint64_t> inodes;
    while (inodes.size() < count) {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        for (const int fd : pair) {
            sockets.emplace_back(fd);
            struct stat status {};
            ASSERT_EQ(fstat(fd, &status), 0);
            inodes.push_back(status.st_ino);
        }
    }
    std::sort(inodes.begin(), inodes.end());

    THelperClient helper(TARNWICK_HELPER_PROGRAM);
    THelperSocketOwners owners(helper);
    const TSocketOwners found = owners.FindOwners(inodes);
    const TStatus available = owners.Available();
    ASSERT_TRUE(available.Ok()) << available.Failure().Text();
    const TSocketOwners scanned = TSocketOwners::Scan();
    // Only the sockets asked for come back: the request named them, rather
    // than asking for every socket.
    EXPECT_EQ(found.Size(), inodes.size());
    const size_t differing = static_cast<size_t>(std::count_if(inodes.begin(), inodes.end(), [&](uint64_t inode) {
        return found.PidOf(inode) != scanned.PidOf(inode) || found.PidOf(inode) != static_cast<uint32_t>(getpid());
    }));
    EXPECT_EQ(differing, 0u);
}

}  // namespace
}  // namespace tarnwick

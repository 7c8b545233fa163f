// Whole-file writes against what a user's folder may hold: links, special
// files, files and folders of another user or without write permission.
#include "platform/atomic_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "common/temp_folder.h"

namespace tarnwick {
namespace {

using testing::TTempFolder;

// The user "nobody" of Debian: no file here is its own.
constexpr uid_t kOtherUser = 65534;

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

size_t EntriesIn(const std::string& folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// Runs `write` in a child process, as another user when this one is root (as
// ourselves otherwise: the permissions then bind us); its exit status.
template <typename TWrite>
int ExitStatusAsAnotherUser(TWrite write) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setresgid(kOtherUser, kOtherUser, kOtherUser) != 0 ||
                                 ::setresuid(kOtherUser, kOtherUser, kOtherUser) != 0))
            ::_exit(100);
        ::_exit(write());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WholeFileWrite, LinksStay) {
    TTempFolder folder;
    const std::string path = folder.Write("rules.dat", "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(::link(path.c_str(), folder.File("second name").c_str()), 0);
    const ino_t inode = StatOf(path).st_ino;

    ASSERT_TRUE(WriteWholeFile(path, "new text"));
    EXPECT_EQ(folder.Read("second name"), "new text");
    const struct stat st = StatOf(path);
    EXPECT_EQ(st.st_ino, inode);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A dangling link gets its file made where it points.
    std::filesystem::create_symlink("made.ini", folder.File("link.ini"));
    ASSERT_TRUE(WriteWholeFile(folder.File("link.ini"), "made"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.File("link.ini")));
    EXPECT_EQ(folder.Read("made.ini"), "made");
    EXPECT_EQ(EntriesIn(folder.Path()), 4u);  // no temporary file left
}

TEST(WholeFileWrite, FilesOfOthersAndFilesInLockedFoldersByTheirPermissions) {
    TTempFolder folder;
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0777), 0);
    // The writer's own file, read-only: the folder would let a rename replace it.
    const std::string readOnly = folder.Write("read-only.ini", "kept");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(readOnly.c_str(), kOtherUser, kOtherUser), 0);
    }
    const std::string shared = folder.Write("shared.ini", "old");
    ASSERT_EQ(::chmod(shared.c_str(), 0666), 0);
    std::filesystem::create_directory(folder.File("locked"));
    const std::string inLocked = folder.Write("locked/Option.ini", "old");
    ASSERT_EQ(::chmod(inLocked.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(folder.File("locked").c_str(), 0555), 0);
    const struct stat sharedBefore = StatOf(shared);

    const int status = ExitStatusAsAnotherUser([&] {
        int failures = 0;
        const TStatus refused = WriteWholeFile(readOnly, "replaced");
        if (refused) {
            failures |= 1;
        } else if (refused.Failure().Errno != EACCES || refused.Failure().Context.find(readOnly) == std::string::npos) {
            failures |= 2;
        }
        if (!WriteWholeFile(shared, "new shared") || !WriteWholeFile(inLocked, "new in locked")) failures |= 4;
        return failures;
    });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(folder.Read("read-only.ini"), "kept");
    EXPECT_EQ(folder.Read("shared.ini"), "new shared");
    EXPECT_EQ(folder.Read("locked/Option.ini"), "new in locked");
    // The other user could not give a new file our owner: it wrote into ours.
    const struct stat sharedAfter = StatOf(shared);
    EXPECT_EQ(sharedAfter.st_uid, sharedBefore.st_uid);
    EXPECT_EQ(sharedAfter.st_ino, sharedBefore.st_ino);
    EXPECT_EQ(sharedAfter.st_mode & 07777, 0666u);
    EXPECT_EQ(EntriesIn(folder.Path()), 3u);
    ASSERT_EQ(::chmod(folder.File("locked").c_str(), 0755), 0);  // so the folder can go
}

TEST(WholeFileWrite, RootKeepsTheOwnerOfAReplacedFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    TTempFolder folder;
    const std::string path = folder.Write("Option.ini", "old");
    ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(WriteWholeFile(path, "new"));
    const struct stat st = StatOf(path);
    EXPECT_EQ(st.st_uid, kOtherUser);
    EXPECT_EQ(st.st_gid, kOtherUser);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(folder.Read("Option.ini"), "new");
}

TEST(WholeFileWrite, AFifoIsWrittenIntoAndStays) {
    TTempFolder folder;
    const std::string fifo = folder.File("report.htm");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] {
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
        char buffer[256];
        for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
            received.append(buffer, static_cast<size_t>(got));
        if (fd >= 0) ::close(fd);
    });
    EXPECT_TRUE(WriteWholeFile(fifo, "<HTML>page</HTML>"));
    reader.join();
    EXPECT_EQ(received, "<HTML>page</HTML>");
    EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
    EXPECT_EQ(EntriesIn(folder.Path()), 1u);
}

TEST(WholeFileWrite, DevStdoutWritesIntoTheProcessOutput) {
    // A child whose standard output is a pipe of ours; nothing in /dev changes.
    const std::filesystem::path link("/dev/stdout");
    const bool wasLink = std::filesystem::is_symlink(link);
    const std::filesystem::path linkTarget = wasLink ? std::filesystem::read_symlink(link) : link;
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::_exit(WriteWholeFile("/dev/stdout", "report on stdout\n") ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string received;
    char buffer[256];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        received.append(buffer, static_cast<size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(received, "report on stdout\n");
    EXPECT_EQ(std::filesystem::is_symlink(link), wasLink);
    if (wasLink) {
        EXPECT_EQ(std::filesystem::read_symlink(link), linkTarget);
    }
}

}  // namespace
}  // namespace tarnwick

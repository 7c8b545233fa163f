#include "platform/linux/linux_process_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "loopback_helpers.h"

namespace tarnwick {
namespace {

std::optional<std::string> NameOf(const std::vector<TProcessEntry>& processes, uint32_t pid) {
    for (const TProcessEntry& process : processes) {
        if (process.Pid == pid) return process.ExeFile;
    }
    return std::nullopt;
}

TEST(LinuxProcessList, ListsThisProcessByItsExecutableFileName) {
    TLinuxProcessList list;
    const auto processes = list.TakeSnapshot();
    ASSERT_TRUE(processes);
    EXPECT_EQ(NameOf(*processes, static_cast<uint32_t>(getpid())), std::string(program_invocation_short_name));
}

TEST(LinuxProcessList, ChildShowsTheProgramItExecuted) {
    const test::TChild child = test::ForkExec("/bin/sleep", "not-the-name", "30");
    TLinuxProcessList list;
    // Until the exec has happened the child is a copy of this binary.
    std::optional<std::string> name;
    for (int attempt = 0; attempt < 200 && name != "sleep"; ++attempt) {
        const auto processes = list.TakeSnapshot();
        ASSERT_TRUE(processes);
        name = NameOf(*processes, static_cast<uint32_t>(child.Pid()));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(name, "sleep") << "from the executable, not argv[0]";
}

class TFakeProcProcesses : public ::testing::Test {
protected:
    std::vector<TProcessEntry> Snapshot() {
        TLinuxProcessList list(Root.Path());
        auto processes = list.TakeSnapshot();
        EXPECT_TRUE(processes);
        return processes ? *processes : std::vector<TProcessEntry>{};
    }

    test::TTempDir Root;
};

TEST_F(TFakeProcProcesses, NamesComeFromTheExeLinkWithoutFolderOrDeletedMark) {
    Root.MakeDir("10");
    Root.MakeSymlink("10/exe", "/usr/bin/editor");
    Root.WriteFile("10/comm", "ignored\n");
    Root.MakeDir("11");
    Root.MakeSymlink("11/exe", "/opt/app/updated (deleted)");
    Root.MakeDir("12");
    Root.MakeSymlink("12/exe", "/memfd:jit (deleted)");
    const auto processes = Snapshot();
    EXPECT_EQ(processes.size(), 3u);
    EXPECT_EQ(NameOf(processes, 10), "editor");
    EXPECT_EQ(NameOf(processes, 11), "updated");
    EXPECT_EQ(NameOf(processes, 12), "memfd:jit");
}

TEST_F(TFakeProcProcesses, FallsBackToCommAndSkipsVanishedOrForeignEntries) {
    Root.MakeDir("2");
    Root.WriteFile("2/comm", "kthreadd\n");  // a kernel thread: no exe link
    Root.MakeDir("3");                       // exited between listing and reading
    Root.MakeDir("self");
    Root.MakeSymlink("self/exe", "/usr/bin/nope");
    Root.WriteFile("sys", "");
    const auto processes = Snapshot();
    ASSERT_EQ(processes.size(), 1u);
    EXPECT_EQ(processes[0].Pid, 2u);
    EXPECT_EQ(processes[0].ExeFile, "kthreadd");
}

TEST_F(TFakeProcProcesses, LongNamesAreCutWithoutSplittingACharacter) {
    Root.MakeDir("20");
    Root.MakeSymlink("20/exe", "/x/" + std::string(300, 'a'));
    Root.MakeDir("21");
    // "é" (two bytes) straddles the 260-byte limit and is dropped whole.
    Root.MakeSymlink("21/exe", "/x/" + std::string(259, 'b') + "\xC3\xA9" + "c");
    const auto processes = Snapshot();
    EXPECT_EQ(NameOf(processes, 20), std::string(kMaxProcessNameBytes, 'a'));
    EXPECT_EQ(NameOf(processes, 21), std::string(259, 'b'));
}

TEST(LinuxProcessList, UnreadableProcRootGivesNoSnapshot) {
    TLinuxProcessList list("/nonexistent/proc");
    EXPECT_EQ(list.TakeSnapshot().Failure().Errno, ENOENT);
}

}  // namespace
}  // namespace tarnwick

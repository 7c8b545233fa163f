#include "platform/linux/linux_program_launcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "loopback_helpers.h"

namespace tarnwick {
namespace {

using TClock = std::chrono::steady_clock;

// Writes what the started program sees of itself into `report` beside it
// (renamed into place, so a reader never sees half of it), then lingers, so
// that a launcher that waited for it would be caught taking two seconds.
constexpr const char* kReportingScript = R"sh(#!/bin/sh
dir=$(dirname "$0")
{
  echo "pid $$"
  echo "args $#"
  echo "argv0 $0"
  grep -E '^(PPid|SigBlk|SigIgn):' /proc/$$/status | sed 's/^/status /; s/:\s*/ /'
  echo "fds $(ls /proc/$$/fd | tr '\n' ' ')"
} > "$dir/report.tmp"
mv "$dir/report.tmp" "$dir/report"
sleep 2
)sh";

void WriteExecutable(const std::string& path, const std::string& content, mode_t mode = 0755) {
    std::ofstream(path, std::ios::binary) << content;
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

// "key value" lines of the report, once it is there (five seconds at most).
std::map<std::string, std::string> AwaitReport(const std::string& path) {
    const TClock::time_point deadline = TClock::now() + std::chrono::seconds(5);
    while (!std::filesystem::exists(path) && TClock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::map<std::string, std::string> report;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "status") fields >> key;  // "status PPid 123" -> "PPid"
        std::string value;
        std::getline(fields >> std::ws, value);
        report[key] = value;
    }
    return report;
}

// Sets a process-wide signal disposition for the test's duration.
class TSignalDisposition {
public:
    TSignalDisposition(int signal, void (*handler)(int)) : Signal_(signal) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigaction(signal, &action, &Saved_);
    }
    TSignalDisposition(const TSignalDisposition&) = delete;
    TSignalDisposition& operator=(const TSignalDisposition&) = delete;
    ~TSignalDisposition() { sigaction(Signal_, &Saved_, nullptr); }

private:
    int Signal_;
    struct sigaction Saved_ {};
};

TEST(LinuxProgramLauncher, StartsTheFileItselfDetachedAndDoesNotWaitForIt) {
    const test::TTempDir dir;
    // Spaces and shell syntax in the path: it must reach exec as one word.
    const std::string folder = dir.Path() + "/a folder; with $HOME in it";
    std::filesystem::create_directories(folder);
    const std::string script = folder + "/run me.sh";
    WriteExecutable(script, kReportingScript);

    // What the program must not inherit from us: a blocked signal, an ignored
    // one, a descriptor opened without O_CLOEXEC, and our standard input (a
    // pipe here, whatever the test binary was started with).
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigset_t savedMask;
    pthread_sigmask(SIG_BLOCK, &usr1, &savedMask);
    const TSignalDisposition ignorePipe(SIGPIPE, SIG_IGN);
    const TUniqueFd inheritable(open("/dev/null", O_RDONLY));
    const TUniqueFd strayFd(dup2(inheritable.Get(), 77));
    ASSERT_EQ(strayFd.Get(), 77);
    int inputPipe[2];
    ASSERT_EQ(pipe2(inputPipe, O_CLOEXEC), 0);
    const TUniqueFd inputRead(inputPipe[0]);
    const TUniqueFd inputWrite(inputPipe[1]);
    const TUniqueFd savedInput(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3));
    ASSERT_EQ(dup2(inputRead.Get(), STDIN_FILENO), STDIN_FILENO);

    TLinuxProgramLauncher launcher;
    const TClock::time_point start = TClock::now();
    const TStatus launched = launcher.Launch(script);
    const auto took = TClock::now() - start;
    pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
    if (savedInput.IsValid()) {
        dup2(savedInput.Get(), STDIN_FILENO);
    } else {
        close(STDIN_FILENO);
    }
    ASSERT_TRUE(launched);
    EXPECT_LT(took, std::chrono::milliseconds(1000));

    const std::map<std::string, std::string> report = AwaitReport(folder + "/report");
    ASSERT_TRUE(report.count("pid")) << "the program did not run";
    EXPECT_EQ(report.at("args"), "0");
    EXPECT_EQ(report.at("argv0"), script);
    EXPECT_EQ(std::stoull(report.at("SigBlk"), nullptr, 16), 0u) << report.at("SigBlk");
    EXPECT_EQ(std::stoull(report.at("SigIgn"), nullptr, 16), 0u) << report.at("SigIgn");
    EXPECT_EQ(report.at("fds").find("77"), std::string::npos) << report.at("fds");

    // Not our child, nor in our session; its input is /dev/null. Checked
    // while it still sleeps.
    const pid_t pid = std::stoi(report.at("pid"));
    EXPECT_NE(std::stoi(report.at("PPid")), getpid());
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    const pid_t session = getsid(pid);
    ASSERT_GT(session, 0) << "the program ended before two seconds";
    EXPECT_NE(session, getsid(0));
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/0"), "/dev/null");

    // Its process group (the session's) ends with it: the script and its
    // sleep, which holds our standard output (ctest waits for that to close).
    const pid_t group = getpgid(pid);
    if (group > 1 && group != getpgrp()) kill(-group, SIGKILL);
}

TEST(LinuxProgramLauncher, FilesThatCannotBeExecutedFailWithTheExecsErrno) {
    const test::TTempDir dir;
    TLinuxProgramLauncher launcher;
    EXPECT_FALSE(launcher.Launch(""));
    const TStatus missing = launcher.Launch(dir.Path() + "/missing");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.Failure().Errno, ENOENT);
    EXPECT_FALSE(launcher.Launch(dir.Path()));

    // Not executable: even root may only exec a file with an execute bit.
    const std::string plain = dir.Path() + "/plain.sh";
    WriteExecutable(plain, "#!/bin/sh\ntouch \"$0.ran\"\n", 0644);
    EXPECT_FALSE(launcher.Launch(plain));

    // Executable, but in no format the kernel runs: a shell would take it for
    // a script; with no shell in between it does not start.
    const std::string noFormat = dir.Path() + "/no-format";
    WriteExecutable(noFormat, "touch \"$0.ran\"\n");
    const TStatus unknownFormat = launcher.Launch(noFormat);
    ASSERT_FALSE(unknownFormat);
    EXPECT_EQ(unknownFormat.Failure().Errno, ENOEXEC);

    // An interpreter line naming a missing interpreter.
    const std::string badInterpreter = dir.Path() + "/bad-interpreter";
    WriteExecutable(badInterpreter, "#!/nonexistent/sh\n");
    EXPECT_FALSE(launcher.Launch(badInterpreter));

    // The name is a file path, not a command looked up in PATH.
    EXPECT_FALSE(launcher.Launch("sh"));

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(plain + ".ran"));
    EXPECT_FALSE(std::filesystem::exists(noFormat + ".ran"));
}

}  // namespace
}  // namespace tarnwick

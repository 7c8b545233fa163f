#include "platform/linux/linux_program_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/unique_fd.h"

extern char** environ;

namespace tarnwick {

namespace {

// Moves a descriptor that landed on 0, 1 or 2 (possible when this process
// runs with standard streams closed) above them, so that setting up the
// program's standard input cannot overwrite it.
TUniqueFd AboveStandardStreams(TUniqueFd fd) {
    if (!fd.IsValid() || fd.Get() > STDERR_FILENO) return fd;
    return TUniqueFd(fcntl(fd.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

// Blocks every signal for the calling thread while it lives, so that no
// handler of ours runs in a forked copy of this process before it resets the
// dispositions (the same care posix_spawn takes).
class TAllSignalsBlocked {
public:
    TAllSignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &Saved_);
    }
    TAllSignalsBlocked(const TAllSignalsBlocked&) = delete;
    TAllSignalsBlocked& operator=(const TAllSignalsBlocked&) = delete;
    ~TAllSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &Saved_, nullptr); }

private:
    sigset_t Saved_;
};

// Everything below runs in a forked copy of a possibly multi-threaded process:
// only async-signal-safe calls (signal-safety(7)), no allocation, no locks.

[[noreturn]] void ReportFailureAndExit(int reportFd, int error) {
    ssize_t written;
    do {
        written = write(reportFd, &error, sizeof error);
    } while (written < 0 && errno == EINTR);
    _exit(127);
}

// The program's own process: the grandchild.
[[noreturn]] void ExecProgram(const char* path, char* const argv[], char* const envp[], int nullFd, int reportFd) {
    if (dup2(nullFd, STDIN_FILENO) < 0) ReportFailureAndExit(reportFd, errno);

    // Ignored signals stay ignored across exec and handlers would be reset by
    // it anyway; the program starts with every disposition at its default and
    // nothing blocked, as if started from a shell. (glibc refuses the two
    // signals it reserves for itself; those are not ours to change.)
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &defaultAction, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    // Descriptors of ours opened without O_CLOEXEC stay with us: every one from
    // 3 up closes at exec, the report pipe included, whose end-of-file is how
    // the launcher learns the exec succeeded. An older kernel without
    // close_range (before 5.11) merely leaves them inherited.
    close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);

    execve(path, argv, envp);
    ReportFailureAndExit(reportFd, errno);
}

}  // namespace

TStatus TLinuxProgramLauncher::Launch(const std::string& path) {
    const std::string context = "starting " + path;
    if (path.empty()) return TFailure{ENOENT, context};

    // Everything the forked processes need is made here, before fork.
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return FailureFromErrno(context);
    TUniqueFd reportRead = AboveStandardStreams(TUniqueFd(pipeFds[0]));
    TUniqueFd reportWrite = AboveStandardStreams(TUniqueFd(pipeFds[1]));
    TUniqueFd nullFd = AboveStandardStreams(TUniqueFd(open("/dev/null", O_RDONLY | O_CLOEXEC)));
    if (!reportRead.IsValid() || !reportWrite.IsValid() || !nullFd.IsValid()) return FailureFromErrno(context);
    char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
    char* const* envp = environ;

    pid_t intermediate;
    {
        const TAllSignalsBlocked blocked;
        // fork, not _Fork, here: its atfork handlers leave the C library (and
        // a sanitizer's runtime) consistent in the copy of this process.
        intermediate = fork();
        if (intermediate == 0) {
            // A session of its own: no controlling terminal, and no signals
            // meant for our process group (Ctrl+C in the terminal that
            // started us). The program, its child, is not a session leader and
            // so never acquires a controlling terminal by opening one.
            setsid();
            // _Fork: fork without the atfork handlers, which are not
            // async-signal-safe (fork(2) in a copy of a multi-threaded
            // process runs code that may take locks).
            const pid_t program = _Fork();
            if (program < 0) ReportFailureAndExit(reportWrite.Get(), errno);
            if (program == 0) ExecProgram(path.c_str(), argv, envp, nullFd.Get(), reportWrite.Get());
            // Orphaned by this exit, the program is adopted by init (or the
            // nearest subreaper), which reaps it when it ends.
            _exit(0);
        }
    }
    if (intermediate < 0) return FailureFromErrno(context);
    reportWrite.Reset();
    nullFd.Reset();

    // The intermediate exits right after its fork: this wait is short, and
    // leaves no zombie of ours. ECHILD means someone else (a SIGCHLD handler
    // of the application) reaped it first, which is as good.
    while (waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
    }

    // End-of-file once the last write end closes: at the program's exec (all
    // copies are close-on-exec) or at its failure report's exit.
    int execError = 0;
    ssize_t received;
    do {
        received = read(reportRead.Get(), &execError, sizeof execError);
    } while (received < 0 && errno == EINTR);
    if (received == 0) return {};
    if (received < 0) return FailureFromErrno(context);
    return TFailure{execError, context};
}

}  // namespace tarnwick

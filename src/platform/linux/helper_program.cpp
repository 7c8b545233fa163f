#include "platform/linux/helper_program.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/linux/capabilities.h"
#include "platform/linux/helper_actions.h"
#include "platform/linux/helper_audit.h"
#include "platform/linux/helper_protocol.h"
#include "platform/linux/helper_seccomp.h"
#include "platform/linux/helper_server.h"
#include "platform/linux/systemd_journal.h"

namespace tarnwick {

namespace {

// The parent-death signal only needs to interrupt the wait (poll is never
// restarted after a handler); the loop then looks whether the parent is gone.
void OnParentDeath(int) {}

}  // namespace

int RunHelperProgram(int argc) {
    // First of all: nothing beyond what the requests need is kept, nothing
    // else can be gained again, and nothing is effective until a request
    // raises it.
    const TCapabilityMask held =
        PermittedCapabilities() & (NetAdminCapability() | NetRawCapability() | ReadOwnersCapabilities());
    LimitBoundingSet(held);
    if (const TStatus kept = KeepOnlyCapabilities(held); !kept) {
        std::fprintf(stderr, "tarnwick-helper: %s\n", kept.Failure().Text().c_str());
        return 1;
    }
    // No other process of the user may attach to it, read its memory or have
    // it gain more at an exec (it runs none).
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);

    const std::optional<THelperCaller> caller = ReadHelperCaller(kHelperSocketFd);
    if (argc != 1 || !IsSeqPacketSocket(kHelperSocketFd) || !caller) {
        std::fprintf(stderr,
                     "tarnwick-helper: not for running by hand; tarnwick and tarnwick-cli start it with a socket "
                     "pair on descriptor %d\n",
                     kHelperSocketFd);
        return 2;
    }
    // Only the socket pair and the standard streams are ours to use.
    close_range(kHelperSocketFd + 1, UINT_MAX, 0);

    // The signal is sent when the thread that started us ends, which in a
    // program with threads need not be the end of the program: the serving
    // loop then checks that the parent is really gone.
    const pid_t parent = getppid();
    struct sigaction action {};
    action.sa_handler = OnParentDeath;
    sigaction(SIGHUP, &action, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGHUP, 0, 0, 0);
    if (getppid() != parent) return 0;  // gone before the signal was set up
    // The capture forwarders (capture_forwarder.h) are reaped by the kernel:
    // the helper waits for no child.
    signal(SIGCHLD, SIG_IGN);

    // A helper that cannot confine itself serves nothing. A call outside the
    // filter fails rather than ending the helper: the request that made it
    // is answered with the failure, and the next is served.
    if (const TStatus confined = InstallHelperSyscallFilter(); !confined) {
        std::fprintf(stderr, "tarnwick-helper: %s\n", confined.Failure().Text().c_str());
        return 1;
    }

    TSystemdJournal journal;
    THelperAudit audit(journal, *caller);
    TLinuxHelperActions actions(audit);
    return ServeHelperRequests(kHelperSocketFd, actions, [parent] { return getppid() == parent; });
}

}  // namespace tarnwick

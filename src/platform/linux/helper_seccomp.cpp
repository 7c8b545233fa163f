#include "platform/linux/helper_seccomp.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/sockios.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <initializer_list>
#include <memory>

namespace tarnwick {

namespace {

// The address and undefined-behaviour sanitizers' runtime (the test build)
// makes calls of its own while the program runs: it tries whether memory is
// readable by writing it into a pipe (checking a virtual call's object, say),
// its allocator yields while it waits for its spin locks, and a report asks
// whether its output is a terminal. Those are allowed in that build only. Its leak check at exit is not:
// it stops the world with a tracing child (clone, ptrace), which no filter
// worth having allows; the helper turns it off in that build instead (see
// app/helper_sanitizers.cpp).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Calls allowed whatever their arguments.
constexpr int kPlainCalls[] = {
    // The socket pair, the sock_diag and packet sockets, the journal's socket,
    // and the descriptors a capture's forwarding child closes or moves.
    SCMP_SYS(recvmsg), SCMP_SYS(sendmsg), SCMP_SYS(recvfrom), SCMP_SYS(sendto), SCMP_SYS(poll), SCMP_SYS(ppoll),
    SCMP_SYS(bind), SCMP_SYS(getsockname), SCMP_SYS(getsockopt), SCMP_SYS(setsockopt), SCMP_SYS(shutdown),
    SCMP_SYS(read), SCMP_SYS(write), SCMP_SYS(close), SCMP_SYS(close_range), SCMP_SYS(dup), SCMP_SYS(dup2),
    SCMP_SYS(dup3), SCMP_SYS(fcntl),
    // Socket owners: the descriptor links under /proc and the process names.
    SCMP_SYS(getdents64), SCMP_SYS(readlink), SCMP_SYS(readlinkat), SCMP_SYS(newfstatat), SCMP_SYS(fstat),
    SCMP_SYS(statx), SCMP_SYS(lseek),
    // Raising a capability around the call that needs it, and lowering it.
    SCMP_SYS(capget), SCMP_SYS(capset),
    // The C library's heap, and the capture ring's unmapping.
    SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise), SCMP_SYS(futex),
    // A capture's forwarding child, reaped on its end; the parent watch.
    SCMP_SYS(wait4), SCMP_SYS(kill), SCMP_SYS(tgkill), SCMP_SYS(getpid), SCMP_SYS(getppid), SCMP_SYS(gettid),
    SCMP_SYS(set_robust_list), SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn),
    SCMP_SYS(clock_gettime), SCMP_SYS(exit), SCMP_SYS(exit_group),
};

constexpr int kSanitizerCalls[] = {
    SCMP_SYS(pipe2), SCMP_SYS(sched_yield), SCMP_SYS(sigaltstack), SCMP_SYS(getrlimit), SCMP_SYS(prlimit64),
    SCMP_SYS(uname),
};

// New namespaces are never the helper's business; a fork is.
constexpr uint64_t kNamespaceFlags =
    CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS | CLONE_NEWIPC | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET;
// It writes no file: anything opened is opened to read.
constexpr uint32_t kWritingOpenFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;

struct TFilterRelease {
    void operator()(void* filter) const { seccomp_release(filter); }
};

class TFilterBuilder {
public:
    TFilterBuilder() : Filter_(seccomp_init(SCMP_ACT_ERRNO(EPERM))) {}

    bool IsValid() const { return Filter_ != nullptr && Result_ == 0; }
    int Result() const { return Filter_ == nullptr ? -ENOMEM : Result_; }
    scmp_filter_ctx Get() const { return Filter_.get(); }

    // Allows `call`, when every comparison of `conditions` holds (none: always).
    void Allow(int call, std::initializer_list<scmp_arg_cmp> conditions = {}) {
        Add(SCMP_ACT_ALLOW, call, conditions);
    }
    void Answer(int call, int error) { Add(SCMP_ACT_ERRNO(static_cast<uint32_t>(error)), call, {}); }

    void Set(scmp_filter_attr attribute, uint32_t value) {
        if (IsValid()) Result_ = seccomp_attr_set(Filter_.get(), attribute, value);
    }

private:
    void Add(uint32_t action, int call, std::initializer_list<scmp_arg_cmp> conditions) {
        // A negative number is a call this architecture does not have (poll
        // on arm64, say): there is nothing to allow.
        if (!IsValid() || call < 0) return;
        Result_ = seccomp_rule_add_array(Filter_.get(), action, call, static_cast<unsigned>(conditions.size()),
                                         conditions.begin());
    }

    std::unique_ptr<void, TFilterRelease> Filter_;
    int Result_ = 0;
};

}  // namespace

TStatus InstallHelperSyscallFilter() {
    TFilterBuilder filter;
    for (const int call : kPlainCalls) filter.Allow(call);
    if constexpr (kSanitized) {
        for (const int call : kSanitizerCalls) filter.Allow(call);
        filter.Allow(SCMP_SYS(ioctl), {SCMP_A1_32(SCMP_CMP_EQ, TCGETS)});
    }
    // Sockets: the journal's (AF_UNIX), sock_diag netlink to close
    // connections, packet sockets to capture; a socket pair to hand captured
    // packets over.
    filter.Allow(SCMP_SYS(socket), {SCMP_A0_32(SCMP_CMP_EQ, AF_UNIX)});
    filter.Allow(SCMP_SYS(socket), {SCMP_A0_32(SCMP_CMP_EQ, AF_PACKET)});
    filter.Allow(SCMP_SYS(socket),
                 {SCMP_A0_32(SCMP_CMP_EQ, AF_NETLINK), SCMP_A2_32(SCMP_CMP_EQ, NETLINK_SOCK_DIAG)});
    filter.Allow(SCMP_SYS(socketpair), {SCMP_A0_32(SCMP_CMP_EQ, AF_UNIX)});
    // An interface's name, index and flags, for binding a packet socket and
    // telling whether it is loopback.
    for (const unsigned long request : {SIOCGIFINDEX, SIOCGIFNAME, SIOCGIFFLAGS})
        filter.Allow(SCMP_SYS(ioctl), {SCMP_A1_32(SCMP_CMP_EQ, static_cast<uint32_t>(request))});
    filter.Allow(SCMP_SYS(openat), {SCMP_A2_32(SCMP_CMP_MASKED_EQ, kWritingOpenFlags, 0)});
    // Memory, but no new code once serving.
    filter.Allow(SCMP_SYS(mmap), {SCMP_A2_32(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
    filter.Allow(SCMP_SYS(mprotect), {SCMP_A2_32(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
    filter.Allow(SCMP_SYS(clone), {SCMP_A0(SCMP_CMP_MASKED_EQ, kNamespaceFlags, 0)});
    // The C library's fork and posix_spawn try clone3 first, and fall back
    // to clone on ENOSYS only: a filter cannot look into clone3's flags,
    // which it takes in memory.
    filter.Answer(SCMP_SYS(clone3), ENOSYS);
    // A capture's forwarder dies with the helper and gives up every
    // capability, the ambient ones included.
    filter.Allow(SCMP_SYS(prctl), {SCMP_A0_32(SCMP_CMP_EQ, PR_SET_PDEATHSIG)});
    filter.Allow(SCMP_SYS(prctl), {SCMP_A0_32(SCMP_CMP_EQ, PR_CAP_AMBIENT)});
    // Threads that a runtime may have started share the filter.
    filter.Set(SCMP_FLTATR_CTL_TSYNC, 1);

    if (filter.IsValid()) {
        const int loaded = seccomp_load(filter.Get());
        if (loaded == 0) return {};
        return TFailure{-loaded, "seccomp"};
    }
    return TFailure{-filter.Result(), "seccomp filter"};
}

}  // namespace tarnwick

#include "platform/linux/helper_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/linux/helper_server.h"

extern char** environ;

namespace tarnwick {

namespace {

constexpr const char* kHelperName = "tarnwick-helper";
// The hello comes at once from a helper that starts at all.
constexpr auto kHelloTimeout = std::chrono::seconds(10);
// A helper told to end by the closed socket is given this long.
constexpr auto kExitWait = std::chrono::seconds(2);

// Waits for the helper `child` to end, killing it when it takes too long;
// its status as a text for a message ("exit status 1").
std::string Reap(pid_t child, bool kill) {
    int status = 0;
    if (kill) ::kill(child, SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + kExitWait;
    for (;;) {
        const pid_t reaped = waitpid(child, &status, WNOHANG);
        if (reaped == child) break;
        // ECHILD: reaped by someone else (a SIGCHLD handler that waits for all).
        if (reaped < 0 && errno != EINTR) return "ended";
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
    return "ended";
}

// Spawns `program` with `childEnd` as its descriptor kHelperSocketFd, in a
// process group of its own (a Ctrl-C at the terminal is the program's to
// handle, and ends the helper through the closed socket), with default
// signal handling and no signal blocked. The child's process id.
TResult<pid_t> Spawn(const std::string& program, int childEnd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // Standard error stays: the helper says there why it could not start.
    posix_spawn_file_actions_adddup2(&actions, childEnd, kHelperSocketFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    char* const args[] = {const_cast<char*>(kHelperName), nullptr};
    pid_t child = -1;
    const int result = posix_spawn(&child, program.c_str(), &actions, &attributes, args, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) return TFailure{result, "starting " + program};
    return child;
}

using TDeadline = std::chrono::steady_clock::time_point;

// Waits until `deadline` at most for `socket` to be ready for `events`.
bool WaitFor(int socket, short events, TDeadline deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd watched{socket, events, 0};
        const int ready = poll(&watched, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

bool WaitReadable(int socket, TDeadline deadline) { return WaitFor(socket, POLLIN, deadline); }

// Sends one message, waiting until `deadline` at most for room.
TStatus SendMessage(int socket, const std::vector<uint8_t>& message, TDeadline deadline) {
    for (;;) {
        const ssize_t sent = send(socket, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent == static_cast<ssize_t>(message.size())) return {};
        if (sent >= 0) return TFailure{0, "a request sent in part"};
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return FailureFromErrno({});
        // A request of many messages outruns the helper's reading.
        if (!WaitFor(socket, POLLOUT, deadline)) return TFailure{0, "no room for a request in time"};
    }
}

// `failure` as what befell `what`: "<what>: <its context>", its errno kept.
TFailure Within(const std::string& what, const TFailure& failure) {
    return {failure.Errno, failure.Context.empty() ? what : what + ": " + failure.Context};
}

// `failure` in words alone. A request's caller takes a failure with errno
// for the helper's own (EPERM: it lacks the capability), so a failure to
// reach the helper at all reaches it without one.
TFailure InWords(const TFailure& failure) { return {0, failure.Text()}; }

}  // namespace

std::string HelperMissingText(const std::string& need, const std::string& problem) {
    return need + ", and " + problem + ": " + kHelperHowTo;
}

THelperClient::THelperClient(std::string program, std::chrono::milliseconds exchangeTimeout)
    : Program_(std::move(program)), ExchangeTimeout_(exchangeTimeout) {}

THelperClient::THelperClient(THelperLocation location, std::chrono::milliseconds exchangeTimeout)
    : Program_(std::move(location.Program)), Refused_(std::move(location.Refused)), ExchangeTimeout_(exchangeTimeout) {}

THelperClient::~THelperClient() {
    std::lock_guard lock(Mutex_);
    StopLocked(false);
}

TStatus THelperClient::Start() {
    std::lock_guard lock(Mutex_);
    return StartLocked();
}

TStatus THelperClient::Health() {
    std::lock_guard lock(Mutex_);
    if (Failure_) return *Failure_;
    return {};
}

uint32_t THelperClient::Abilities() {
    std::lock_guard lock(Mutex_);
    return Socket_.IsValid() ? Abilities_ : 0;
}

TStatus THelperClient::StartLocked() {
    if (Socket_.IsValid()) return {};
    if (Failure_) return *Failure_;
    if (StartFailure_) return *StartFailure_;
    if (Program_.empty()) {
        StartFailure_ =
            TFailure{0, "no " + std::string(kHelperName) + " that may be trusted was found (" + Refused_ + ")"};
        return *StartFailure_;
    }
    const std::string named = std::string(kHelperName) + " (" + Program_ + ")";

    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return FailureFromErrno("no socket pair for " + named);
    TUniqueFd ours(ends[0]);
    TUniqueFd theirs(ends[1]);
    // dup2 onto itself would leave the close-on-exec flag set.
    if (theirs.Get() == kHelperSocketFd) theirs.Reset(fcntl(ends[1], F_DUPFD_CLOEXEC, kHelperSocketFd + 1));

    const TResult<pid_t> child = Spawn(Program_, theirs.Get());
    theirs.Reset();
    if (!child) {
        const int error = child.Failure().Errno;
        if (error == ENOENT) {
            // A copy refused elsewhere is what the user may have meant to run.
            const std::string refused = Refused_.empty() ? "" : "; " + Refused_;
            StartFailure_ =
                TFailure{0, std::string(kHelperName) + " is not installed (there is no " + Program_ + refused + ")"};
        } else if (error == EACCES || error == EPERM) {
            StartFailure_ =
                TFailure{0, "you may not run " + named + ", which only members of the group tarnwick may run"};
        } else {
            StartFailure_ = TFailure{error, named + " cannot be started"};
        }
        return *StartFailure_;
    }

    Child_ = *child;
    Socket_ = std::move(ours);
    const TStatus greeted = ReadHelloLocked();
    if (greeted) return {};
    StartFailure_ = Within(named + " did not start", greeted.Failure());
    return *StartFailure_;
}

TStatus THelperClient::ReadHelloLocked() {
    const auto giveUp = [this](TFailure problem) -> TStatus {
        StopLocked(true);
        return problem;
    };
    if (!WaitReadable(Socket_.Get(), std::chrono::steady_clock::now() + kHelloTimeout))
        return giveUp(TFailure{0, "no hello in time"});
    TUniqueFd passed;
    const TResult<size_t> size = ReceiveLocked(passed);
    if (!size) return giveUp(size.Failure());
    if (*size == 0) return TFailure{0, StopLocked(false)};
    const TResult<THelperReply> hello = ParseHelperReply({Buffer_.data(), *size}, THelperVerb::Hello);
    if (!hello) return giveUp(TFailure{0, "greeted with " + hello.Failure().Text()});
    const std::optional<uint32_t> abilities = ParseHelloBody(hello->Body);
    if (!abilities || passed.IsValid() || hello->Status != THelperStatus::Ok || hello->MoreFollows)
        return giveUp(TFailure{0, "greeted with a malformed hello"});
    Abilities_ = *abilities;
    return {};
}

std::string THelperClient::StopLocked(bool kill) {
    if (!Socket_.IsValid()) return "ended";
    Socket_.Reset();  // end of file for the helper, which then ends
    std::string ended = Reap(Child_, kill);
    Child_ = -1;
    Abilities_ = 0;
    return ended;
}

TResult<size_t> THelperClient::ReceiveLocked(TUniqueFd& passed) {
    // One byte more than the longest reply, to tell a longer one.
    Buffer_.resize(kMaxHelperReplySize + 1);
    iovec part{Buffer_.data(), Buffer_.size()};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    // Room for a few descriptors, so that any the helper sent by mistake are
    // received (and closed) rather than left to the kernel's truncation.
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))] = {};
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t received;
    do {
        // Close-on-exec: a program a rule starts must not inherit a capture.
        received = recvmsg(Socket_.Get(), &header, MSG_CMSG_CLOEXEC);
    } while (received < 0 && errno == EINTR);
    if (received < 0) return FailureFromErrno("cannot be read");
    if (received == 0) return size_t{0};

    int descriptors = 0;
    for (cmsghdr* message = CMSG_FIRSTHDR(&header); message != nullptr; message = CMSG_NXTHDR(&header, message)) {
        if (message->cmsg_level != SOL_SOCKET || message->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (message->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(message) + i * sizeof(int), sizeof fd);
            TUniqueFd received(fd);
            if (descriptors++ == 0) passed = std::move(received);
        }
    }
    if (descriptors > 1) {
        passed.Reset();
        return TFailure{0, "sent more than one descriptor"};
    }
    if (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) return TFailure{0, "sent a reply too long"};
    return static_cast<size_t>(received);
}

TStatus THelperClient::ExchangeLocked(const std::vector<std::vector<uint8_t>>& request, THelperVerb verb,
                                      const TOnReply& onReply) {
    THelperReplyReader reader(verb);
    return ExchangeLocked(request, reader, onReply);
}

TStatus THelperClient::ExchangeLocked(const std::vector<std::vector<uint8_t>>& request, THelperReplyReader& reader,
                                      const TOnReply& onReply) {
    if (TStatus started = StartLocked(); !started) return InWords(started.Failure());
    const std::string named = std::string(kHelperName) + " (" + Program_ + ")";
    const auto stop = [&](const TFailure& problem) -> TStatus {
        StopLocked(true);
        Failure_ = Within(named + " was stopped", problem);
        return InWords(*Failure_);
    };
    // One deadline for the whole exchange: a helper that trickles its reply
    // out a message at a time is held to it as much as a silent one.
    const auto deadline = std::chrono::steady_clock::now() + ExchangeTimeout_;
    // The helper reads every message of a request before it answers.
    for (const std::vector<uint8_t>& message : request) {
        if (TStatus sent = SendMessage(Socket_.Get(), message, deadline); !sent) return stop(sent.Failure());
    }

    for (;;) {
        if (!WaitReadable(Socket_.Get(), deadline)) {
            const auto seconds = std::chrono::ceil<std::chrono::seconds>(ExchangeTimeout_).count();
            return stop(TFailure{0, "no whole reply within " + std::to_string(seconds) + " s"});
        }
        TUniqueFd passed;
        const TResult<size_t> size = ReceiveLocked(passed);
        if (!size) return stop(size.Failure());
        if (*size == 0) return stop(TFailure{0, "ended"});
        const TResult<THelperReply> reply = reader.Add({Buffer_.data(), *size});
        if (!reply) return stop(reply.Failure());
        if (reply->Status == THelperStatus::Refused) {
            // A refusal is a bug of ours, or a helper of another version.
            return TFailure{0, named + " refused the request: " + reply->Reason};
        }
        if (reply->Status != THelperStatus::Ok) return TFailure{reply->Error, reply->Reason};
        if (TStatus taken = onReply(*reply, passed); !taken) return stop(taken.Failure());
        if (reader.Complete()) return {};
    }
}

TStatus THelperClient::KillTcp(const TTcpRow& row) {
    std::lock_guard lock(Mutex_);
    return ExchangeLocked({EncodeKillRequest(row)}, THelperVerb::KillTcp,
                          [](const THelperReply& reply, TUniqueFd& passed) -> TStatus {
                              if (!reply.Body.empty() || passed.IsValid() || reply.MoreFollows)
                                  return TFailure{0, "a malformed reply to closing"};
                              return {};
                          });
}

TResult<TUniqueFd> THelperClient::OpenCapture(uint32_t interfaceIndex) {
    std::lock_guard lock(Mutex_);
    TUniqueFd stream;
    const TStatus opened = ExchangeLocked(
        {EncodeCaptureRequest(interfaceIndex)}, THelperVerb::OpenCapture,
        [&stream](const THelperReply& reply, TUniqueFd& passed) -> TStatus {
            if (!reply.Body.empty() || !passed.IsValid() || reply.MoreFollows)
                return TFailure{0, "a malformed reply to opening a capture"};
            // Only a capture stream is taken, never a socket that could send
            // on a network.
            if (!IsSeqPacketSocket(passed.Get())) return TFailure{0, "sent a capture that is no socket pair"};
            stream = std::move(passed);
            return {};
        });
    if (!opened) return opened.Failure();
    return stream;
}

TResult<std::vector<THelperOwner>> THelperClient::SocketOwners(const std::vector<uint64_t>& inodes) {
    std::lock_guard lock(Mutex_);
    THelperReplyReader reader(inodes);
    const TStatus answered =
        ExchangeLocked(EncodeOwnersRequest(inodes), reader, [](const THelperReply&, TUniqueFd& passed) -> TStatus {
            if (passed.IsValid()) return TFailure{0, "a descriptor with a list of owners"};
            return {};
        });
    if (!answered) return answered.Failure();
    return std::move(reader.Owners());
}

}  // namespace tarnwick

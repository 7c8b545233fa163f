// tarnwick-hold-connections N [--ipv6 M]
//
// Opens N established TCP connections on loopback (and M more over ::1 with
// --ipv6) and holds both ends of each in one process, so that the system's
// tables hold 2 N established IPv4 rows (and 2 M IPv6 ones) for the
// benchmarks to read. That process is this one when it may open 2 N
// descriptors (root raises its hard limit, up to fs.nr_open); where it may
// not (no CAP_SYS_RESOURCE), worker processes forked from it each hold as
// many connections as their limit allows. Prints "ready N" (with --ipv6,
// "ready N ipv6 M") on stdout once every connection is established, then waits until stdin reaches its end or SIGTERM/SIGINT
// arrives, and exits.
//
// How it gets to 50,000 connections within seconds:
//   - a few listeners on 127.0.0.1 with a large backlog;
//   - clients bound to varying source addresses 127.0.0.2, 127.0.0.3, ... with
//     IP_BIND_ADDRESS_NO_PORT, at most kConnectionsPerSource per address, so
//     the ephemeral port range of any one source address never runs short;
//   - IPv6 clients all come from ::1 (the only loopback address there is),
//     spread over the listeners: the kernel gives an ephemeral port to
//     several connections as long as their destination ports differ, so the
//     range (net.ipv4.ip_local_port_range, shared by both families) holds
//     about its size times kListeners of them;
//   - connects are non-blocking and issued in chunks smaller than the listen
//     backlogs; each chunk is accepted completely before the next starts, so
//     no SYN is ever dropped for a full accept queue (which would cost a
//     one-second retransmission).
// Every socket lingers for 0 seconds, so the exit resets the connections
// instead of leaving tens of thousands of TIME_WAIT rows behind that would
// pollute the next measurement.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kListeners = 4;
constexpr int kBacklog = 4096;
// Connects in flight at once: well below what the listen backlogs hold
// together, even where somaxconn cuts each backlog to 4096 or less.
constexpr size_t kChunk = 2048;
constexpr size_t kConnectionsPerSource = 1000;
constexpr long kMaxConnections = 500000;
constexpr int kStallMs = 10000;  // no progress for this long is a failure
constexpr int kSpareFds = 64;    // stdio, listeners, signalfd and some headroom

const char* gProgram = "tarnwick-hold-connections";

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", gProgram, what.c_str());
    std::exit(1);
}

[[noreturn]] void FailErrno(const std::string& what, int error) {
    Fail(what + ": " + std::strerror(error));
}

std::string AddrText(uint32_t hostOrderAddr) {
    in_addr a{};
    a.s_addr = htonl(hostOrderAddr);
    char buf[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

long ReadLongFile(const char* path) {
    FILE* f = std::fopen(path, "r");
    if (f == nullptr) return -1;
    long value = -1;
    if (std::fscanf(f, "%ld", &value) != 1) value = -1;
    std::fclose(f);
    return value;
}

// Makes room for `needed` open descriptors if the system lets us, raising the
// hard limit too when the process may (root with CAP_SYS_RESOURCE may, up to
// fs.nr_open). Otherwise raises the soft limit as far as the hard one goes.
// Returns the limit now in force.
rlim_t RaiseFileLimit(rlim_t needed) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) FailErrno("getrlimit(RLIMIT_NOFILE)", errno);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= needed) return limit.rlim_cur;
    const long nrOpen = ReadLongFile("/proc/sys/fs/nr_open");
    rlim_t ceiling = needed;
    if (nrOpen > 0 && static_cast<rlim_t>(nrOpen) < ceiling) ceiling = static_cast<rlim_t>(nrOpen);
    rlimit wanted = limit;
    wanted.rlim_cur = ceiling;
    if (wanted.rlim_max != RLIM_INFINITY && wanted.rlim_max < ceiling) wanted.rlim_max = ceiling;
    if (setrlimit(RLIMIT_NOFILE, &wanted) == 0) return ceiling;
    // No right to raise the hard limit: take what it allows.
    wanted = limit;
    wanted.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &wanted) != 0) FailErrno("setrlimit(RLIMIT_NOFILE)", errno);
    return wanted.rlim_cur;
}

void SetLingerZero(int fd) {
    const linger l{1, 0};
    if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) FailErrno("setsockopt(SO_LINGER)", errno);
}

// A listener on 127.0.0.1 or ::1; Addr is its address, to connect to.
struct TListener {
    int Fd = -1;
    sockaddr_storage Addr{};
    socklen_t AddrLength = 0;
};

TListener OpenListener(int family) {
    TListener listener;
    listener.Fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener.Fd < 0) FailErrno("socket for a listener", errno);
    if (family == AF_INET6) {
        auto& addr = reinterpret_cast<sockaddr_in6&>(listener.Addr);
        addr.sin6_family = AF_INET6;
        addr.sin6_addr = in6addr_loopback;
        listener.AddrLength = sizeof addr;
    } else {
        auto& addr = reinterpret_cast<sockaddr_in&>(listener.Addr);
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        listener.AddrLength = sizeof addr;
    }
    if (bind(listener.Fd, reinterpret_cast<const sockaddr*>(&listener.Addr), listener.AddrLength) != 0) {
        FailErrno(family == AF_INET6 ? "bind of a listener to ::1" : "bind of a listener to 127.0.0.1", errno);
    }
    if (listen(listener.Fd, kBacklog) != 0) FailErrno("listen", errno);
    socklen_t len = listener.AddrLength;
    if (getsockname(listener.Fd, reinterpret_cast<sockaddr*>(&listener.Addr), &len) != 0) {
        FailErrno("getsockname of a listener", errno);
    }
    return listener;
}

uint16_t PortOf(const TListener& listener) {
    return ntohs(listener.Addr.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(listener.Addr).sin6_port
                                                     : reinterpret_cast<const sockaddr_in&>(listener.Addr).sin_port);
}

// Starts the non-blocking connect of connection `index`; returns the client socket.
int StartConnect(size_t index, const std::vector<TListener>& listeners) {
    const TListener& to = listeners[index % listeners.size()];
    const int family = to.Addr.ss_family;
    const int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) FailErrno("socket for connection " + std::to_string(index + 1), errno);
    SetLingerZero(fd);
    if (family == AF_INET6) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&to.Addr), to.AddrLength) != 0 && errno != EINPROGRESS) {
            FailErrno("connect to [::1]:" + std::to_string(PortOf(to)) + " (IPv6 connection " +
                          std::to_string(index + 1) + ")",
                      errno);
        }
        return fd;
    }
    const int one = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one) != 0) {
        FailErrno("setsockopt(IP_BIND_ADDRESS_NO_PORT)", errno);
    }
    const uint32_t source = INADDR_LOOPBACK + 1 + static_cast<uint32_t>(index / kConnectionsPerSource);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(source);
    local.sin_port = 0;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        FailErrno("bind to source address " + AddrText(source), errno);
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to.Addr), to.AddrLength) != 0 && errno != EINPROGRESS) {
        const int error = errno;
        FailErrno("connect from " + AddrText(source) + " to 127.0.0.1:" + std::to_string(PortOf(to)) +
                      " (connection " + std::to_string(index + 1) + ")",
                  error);
    }
    return fd;
}

// Accepts until `target` connections have been accepted in total.
void AcceptUpTo(std::vector<TListener>& listeners, std::vector<int>& accepted, size_t target) {
    std::vector<pollfd> fds;
    for (const auto& l : listeners) fds.push_back(pollfd{l.Fd, POLLIN, 0});
    while (accepted.size() < target) {
        size_t before = accepted.size();
        for (const auto& l : listeners) {
            while (accepted.size() < target) {
                const int fd = accept4(l.Fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
                    FailErrno("accept", errno);
                }
                SetLingerZero(fd);
                accepted.push_back(fd);
            }
        }
        if (accepted.size() > before || accepted.size() >= target) continue;
        const int ready = poll(fds.data(), fds.size(), kStallMs);
        if (ready < 0 && errno != EINTR) FailErrno("poll on the listeners", errno);
        if (ready == 0) {
            Fail("only " + std::to_string(accepted.size()) + " of " + std::to_string(target) +
                 " connections were accepted; none came for " + std::to_string(kStallMs / 1000) +
                 " s (SYNs dropped? see nstat -az TcpExtListenOverflows)");
        }
    }
}

// Waits until the clients [from, to) of `clients` (connections base + from ..)
// are connected and checks that each one is established.
void CheckConnected(const std::vector<int>& clients, size_t from, size_t to, size_t base) {
    std::vector<pollfd> fds;
    fds.reserve(to - from);
    for (size_t i = from; i < to; ++i) fds.push_back(pollfd{clients[i], POLLOUT, 0});
    size_t done = 0;
    while (done < fds.size()) {
        const int ready = poll(fds.data() + done, fds.size() - done, kStallMs);
        if (ready < 0 && errno != EINTR) FailErrno("poll on the clients", errno);
        if (ready == 0) Fail("a connect did not complete within " + std::to_string(kStallMs / 1000) + " s");
        while (done < fds.size() && fds[done].revents != 0) {
            const std::string which = "connection " + std::to_string(base + from + done + 1);
            int error = 0;
            socklen_t len = sizeof error;
            if (getsockopt(fds[done].fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) FailErrno("SO_ERROR", errno);
            if (error != 0) FailErrno(which, error);
            tcp_info info{};
            len = sizeof info;
            if (getsockopt(fds[done].fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) FailErrno("TCP_INFO", errno);
            if (info.tcpi_state != TCP_ESTABLISHED) {
                Fail(which + " is in TCP state " + std::to_string(info.tcpi_state) + ", not established");
            }
            ++done;
        }
    }
}

// The descriptors of connections [from, to) and their listeners, all kept
// open for the life of the process.
struct THeld {
    std::vector<TListener> Listeners;
    std::vector<int> Clients;
    std::vector<int> Accepted;
};

THeld Establish(int family, size_t from, size_t to) {
    THeld held;
    if (from == to) return held;
    for (int i = 0; i < kListeners; ++i) held.Listeners.push_back(OpenListener(family));
    held.Clients.reserve(to - from);
    held.Accepted.reserve(to - from);
    for (size_t chunk = from; chunk < to; chunk += kChunk) {
        const size_t chunkEnd = std::min(to, chunk + kChunk);
        for (size_t i = chunk; i < chunkEnd; ++i) held.Clients.push_back(StartConnect(i, held.Listeners));
        AcceptUpTo(held.Listeners, held.Accepted, chunkEnd - from);
        CheckConnected(held.Clients, chunk - from, chunkEnd - from, from);
    }
    return held;
}

// Blocks until `fd` (stdin, or the pipe from the parent) ends, or until
// SIGTERM/SIGINT arrives through `signalFd` (-1: none).
void WaitForEnd(int fd, int signalFd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {signalFd, POLLIN, 0}};
    const nfds_t count = signalFd >= 0 ? 2 : 1;
    char buf[256];
    for (;;) {
        const int ready = poll(fds, count, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            FailErrno("poll on stdin", errno);
        }
        if (count == 2 && fds[1].revents != 0) return;
        if (fds[0].revents != 0) {
            const ssize_t got = read(fd, buf, sizeof buf);
            if (got == 0) return;
            if (got < 0 && errno != EINTR && errno != EAGAIN) return;
        }
    }
}

// A child process holding a share of the connections, for when one process
// may not open enough descriptors for all of them.
struct TWorker {
    pid_t Pid = -1;
    int Ready = -1;    // read end: one byte once its connections are established
    int Control = -1;  // write end: closing it tells the worker to exit
};

TWorker StartWorker(int family, size_t from, size_t to, int signalFd) {
    int ready[2];
    int control[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(control, O_CLOEXEC) != 0) FailErrno("pipe", errno);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) FailErrno("fork", errno);
    if (pid == 0) {
        close(ready[0]);
        close(control[1]);
        // Leaves with the parent, whatever way the parent goes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == 1) _exit(1);
        const THeld held = Establish(family, from, to);
        const char byte = 'r';
        if (write(ready[1], &byte, 1) != 1) _exit(1);
        WaitForEnd(control[0], signalFd);
        _exit(0);
    }
    close(ready[1]);
    close(control[0]);
    return TWorker{pid, ready[0], control[1]};
}

void AwaitWorkers(const std::vector<TWorker>& workers) {
    for (const TWorker& worker : workers) {
        char byte = 0;
        ssize_t got;
        do {
            got = read(worker.Ready, &byte, 1);
        } while (got < 0 && errno == EINTR);
        if (got != 1) {
            for (const TWorker& w : workers) kill(w.Pid, SIGKILL);
            Fail("a worker process failed to establish its connections (see its message above)");
        }
    }
}

void EndWorkers(const std::vector<TWorker>& workers) {
    for (const TWorker& worker : workers) close(worker.Control);
    for (const TWorker& worker : workers) {
        int status = 0;
        while (waitpid(worker.Pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

// Parses a count of connections; fails the program on anything else.
size_t ParseCount(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > kMaxConnections) {
        Fail(std::string("a count must be a number from 0 to ") + std::to_string(kMaxConnections) + ", not '" + text +
             "'");
    }
    return static_cast<size_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--ipv6") == 0)) {
        std::fprintf(stderr,
                     "usage: %s N [--ipv6 M]\n  Holds N established loopback TCP connections (and M more over ::1)"
                     " until stdin ends.\n",
                     gProgram);
        return 2;
    }
    const size_t count = ParseCount(argv[1]);
    const size_t count6 = argc == 4 ? ParseCount(argv[3]) : 0;
    const size_t total = count + count6;

    // Signals are taken through a descriptor, never by a handler, so they
    // cannot interrupt the setup halfway.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) FailErrno("sigprocmask", errno);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) FailErrno("signalfd", errno);
    signal(SIGPIPE, SIG_IGN);

    // Both ends of a connection are always held by the same process: this
    // one when it may open 2 (N + M) descriptors, else as many workers as
    // needed, each for connections of one family.
    const int families = count6 > 0 ? 2 : 1;
    const rlim_t needed = static_cast<rlim_t>(2 * total + families * kListeners + kSpareFds);
    const rlim_t limit = RaiseFileLimit(needed);
    const rlim_t usable = limit == RLIM_INFINITY ? needed : limit;
    if (usable < static_cast<rlim_t>(kListeners + kSpareFds + 2)) Fail("the open-file limit is too low");
    const size_t perProcess = static_cast<size_t>((usable - kListeners - kSpareFds) / 2);

    const auto started = std::chrono::steady_clock::now();
    THeld held;
    THeld held6;
    std::vector<TWorker> workers;
    if (needed <= usable) {
        held = Establish(AF_INET, 0, count);
        held6 = Establish(AF_INET6, 0, count6);
    } else {
        for (const auto& [family, familyCount] : {std::pair{AF_INET, count}, std::pair{AF_INET6, count6}}) {
            for (size_t from = 0; from < familyCount; from += perProcess) {
                workers.push_back(StartWorker(family, from, std::min(familyCount, from + perProcess), signalFd));
            }
        }
        AwaitWorkers(workers);
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);

    if (argc == 4) {
        std::printf("ready %zu ipv6 %zu\n", count, count6);
    } else {
        std::printf("ready %zu\n", count);
    }
    std::fflush(stdout);
    const std::string lastSource =
        count == 0 ? "-" : AddrText(INADDR_LOOPBACK + 1 + static_cast<uint32_t>((count - 1) / kConnectionsPerSource));
    std::fprintf(stderr, "%s: %zu connections established in %lld ms (sources 127.0.0.2..%s", gProgram, count,
                 static_cast<long long>(elapsed.count()), lastSource.c_str());
    if (count6 > 0) std::fprintf(stderr, ", and %zu over ::1", count6);
    std::fprintf(stderr, "; %zu process%s)\n", workers.empty() ? size_t{1} : workers.size(),
                 workers.size() > 1 ? "es" : "");

    WaitForEnd(STDIN_FILENO, signalFd);
    EndWorkers(workers);
    // Our own descriptors close (and their connections reset) as the process exits.
    return 0;
}

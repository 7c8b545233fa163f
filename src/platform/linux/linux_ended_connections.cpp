#include "platform/linux/linux_ended_connections.h"

#include <libmnl/libmnl.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>

#include "platform/linux/diag_reply.h"
#include "platform/linux/netlink_frames.h"

namespace tarnwick {

namespace {

// Room for bursts between two wake-ups of the reader. The kernel doubles the
// value asked for; without CAP_NET_ADMIN it caps it at net.core.rmem_max.
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

// One notification is one datagram of a few hundred bytes (an inet_diag_msg
// and its attributes); this holds any of them whole.
constexpr size_t kDatagramBufferSize = 16 * 1024;

// Notifications read before they are handed to the pending list at once,
// so the reader takes the lock once per burst rather than per connection.
constexpr size_t kKeepBatch = 256;


struct TParseTarget {
    bool IncludeIpv6;
    std::chrono::system_clock::time_point Now;
    std::vector<TEndedConnection>* Ended;
};

// One notification. Only connections are kept: a listener or a socket that
// was merely bound ends with no remote end and never completed a handshake.
// A socket that sent a reset ends with its ends zeroed but its handshake
// done; it is kept for its cookie to name it.
int OnNotification(const nlmsghdr* message, void* data) {
    auto& target = *static_cast<TParseTarget*>(data);
    if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY) return MNL_CB_OK;
    std::vector<TTcpRow> rows;
    // IPv4 rows and, when wanted, IPv6 ones go to the same list: the row says which.
    const int result = ParseDiagSocket(message, IPPROTO_TCP, rows, target.IncludeIpv6 ? &rows : nullptr);
    if (result != MNL_CB_OK || rows.empty()) return result;
    TTcpRow& row = rows.front();
    const std::optional<bool> established = ReadDiagWasEstablished(message);
    const bool zeroed = row.RemotePort == 0;
    if (zeroed && !established.value_or(false)) return MNL_CB_OK;
    // The reset cleared its counters with its ends: they tell nothing of what it carried.
    if (zeroed) row.Traffic = TSocketTraffic{};
    target.Ended->push_back(TEndedConnection{row, target.Now, established.value_or(true)});
    return MNL_CB_OK;
}

}  // namespace

void TLinuxEndedConnections::TSocketCloser::operator()(mnl_socket* socket) const { mnl_socket_close(socket); }

TLinuxEndedConnections::TLinuxEndedConnections(bool includeIpv6, size_t bound)
    : Bound_(bound), IncludeIpv6_(includeIpv6) {
    Socket_.reset(mnl_socket_open2(NETLINK_SOCK_DIAG, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!Socket_) {
        Failure_ = FailureFromErrno("socket");
        return;
    }
    if (mnl_socket_bind(Socket_.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
        Failure_ = FailureFromErrno("bind");
        Socket_.reset();
        return;
    }
    // Both families are joined even without IPv6: an IPv6 socket with
    // IPv4-mapped ends is an IPv4 connection to the user, and it is announced
    // on the IPv6 group. The UDP groups are left out: UDP sockets raise no
    // events in this program (their rows only feed the grid), so their
    // notifications would cost a wake-up each for nothing.
    for (int group : {SKNLGRP_INET_TCP_DESTROY, SKNLGRP_INET6_TCP_DESTROY}) {
        if (mnl_socket_setsockopt(Socket_.get(), NETLINK_ADD_MEMBERSHIP, &group, sizeof group) < 0) {
            Failure_ = FailureFromErrno("joining the socket-destroy notifications");
            Socket_.reset();
            return;
        }
    }
    const int fd = mnl_socket_get_fd(Socket_.get());
    const int size = kReceiveBufferBytes;
    // Forcing the size needs CAP_NET_ADMIN; without it the capped size is still the most we can have.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    try {
        Stop_.emplace();
        Reader_ = std::thread([this] { Read(); });
    } catch (const std::system_error& error) {
        Failure_ = TFailure{error.code().value(), "starting the reader"};
        Socket_.reset();
    }
}

TLinuxEndedConnections::~TLinuxEndedConnections() {
    if (Reader_.joinable()) {
        Stop_->Signal();
        Reader_.join();
    }
}

bool TLinuxEndedConnections::Active() const { return !Failure_ && !Failed_; }

TStatus TLinuxEndedConnections::Available() const {
    if (Failure_) return *Failure_;
    std::lock_guard lock(Mutex_);
    if (ReadFailure_) return *ReadFailure_;
    return {};
}

TEndedTake TLinuxEndedConnections::TakeEnded() {
    TEndedTake take;
    std::lock_guard lock(Mutex_);
    take.Connections.swap(Pending_);
    take.Dropped = Dropped_;
    take.Lost = Lost_;
    Dropped_ = 0;
    Lost_ = false;
    return take;
}

void TLinuxEndedConnections::Read() {
    std::vector<char> buffer(kDatagramBufferSize);
    pollfd fds[2] = {{mnl_socket_get_fd(Socket_.get()), POLLIN, 0}, {Stop_->Fd(), POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            std::lock_guard lock(Mutex_);
            ReadFailure_ = FailureFromErrno("poll");
            break;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents != 0 && !Drain(buffer)) break;
    }
    Failed_ = true;
}

bool TLinuxEndedConnections::Drain(std::vector<char>& buffer) {
    const int fd = mnl_socket_get_fd(Socket_.get());
    std::vector<TEndedConnection> ended;
    bool healthy = true;
    for (;;) {
        const ssize_t received = recv(fd, buffer.data(), buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            if (errno == ENOBUFS) {
                // The socket overflowed: the kernel dropped notifications
                // without saying how many. Reading goes on after it.
                Keep(ended);
                std::lock_guard lock(Mutex_);
                Lost_ = true;
                continue;
            }
            std::lock_guard lock(Mutex_);
            ReadFailure_ = FailureFromErrno("recv");
            healthy = false;
            break;
        }
        const auto length = static_cast<size_t>(received);
        // A malformed datagram is passed over, not trusted; the next one is read afresh.
        if (!NetlinkFramesValid(buffer.data(), length)) continue;
        TParseTarget target{IncludeIpv6_, std::chrono::system_clock::now(), &ended};
        mnl_cb_run(buffer.data(), length, 0, 0, OnNotification, &target);
        if (ended.size() >= kKeepBatch) Keep(ended);
    }
    Keep(ended);
    return healthy;
}

void TLinuxEndedConnections::Keep(std::vector<TEndedConnection>& ended) {
    if (ended.empty()) return;
    std::lock_guard lock(Mutex_);
    for (TEndedConnection& connection : ended) {
        if (Pending_.size() < Bound_) {
            Pending_.push_back(connection);
        } else {
            ++Dropped_;
        }
    }
    ended.clear();
}

}  // namespace tarnwick

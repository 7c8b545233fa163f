#include "platform/linux/netlink_socket.h"

#include <libmnl/libmnl.h>
#include <linux/netlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/linux/netlink_frames.h"

namespace tarnwick {

namespace {

// Replies of a large dump come in datagrams of up to 32 KiB (the kernel sizes
// dump buffers after the largest read seen, capped near 32 KiB in
// net/netlink/af_netlink.c); a shorter buffer would truncate them (ENOSPC).
constexpr size_t kReceiveBufferSize = 64 * 1024;

// An NLMSG_ERROR message: an error code of 0 is an acknowledgement and ends a
// successful exchange; anything else is the negated errno of the failure.
int OnErrorMessage(const nlmsghdr* message, void*) {
    if (message->nlmsg_len < mnl_nlmsg_size(sizeof(nlmsgerr))) {
        errno = EBADMSG;
        return MNL_CB_ERROR;
    }
    const auto* error = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(message));
    if (error->error == 0) return MNL_CB_STOP;
    errno = error->error < 0 ? -error->error : error->error;
    return MNL_CB_ERROR;
}

// NLMSG_DONE ends a dump. Its payload, when present, is an int that is
// negative when the dump failed part-way (netlink_dump_done() in
// net/netlink/af_netlink.c): such a dump is incomplete and reported as failed.
int OnDoneMessage(const nlmsghdr* message, void*) {
    if (mnl_nlmsg_get_payload_len(message) >= sizeof(int)) {
        int status = 0;
        std::memcpy(&status, mnl_nlmsg_get_payload(message), sizeof status);
        if (status < 0) {
            errno = -status;
            return MNL_CB_ERROR;
        }
    }
    return MNL_CB_STOP;
}

int OnNoopMessage(const nlmsghdr*, void*) { return MNL_CB_OK; }

// The kernel reports lost messages this way; the reply is then incomplete.
int OnOverrunMessage(const nlmsghdr*, void*) {
    errno = ENOBUFS;
    return MNL_CB_ERROR;
}

}  // namespace

TResult<TNetlinkSocket> TNetlinkSocket::Open() {
    mnl_socket* socket = mnl_socket_open2(NETLINK_SOCK_DIAG, SOCK_CLOEXEC);
    if (socket == nullptr) return FailureFromErrno("opening a socket diagnostics netlink socket");
    TNetlinkSocket owner(socket);
    if (mnl_socket_bind(socket, 0, MNL_SOCKET_AUTOPID) < 0)
        return FailureFromErrno("binding a socket diagnostics netlink socket");
    return owner;
}

TNetlinkSocket::TNetlinkSocket(mnl_socket* socket) noexcept : Socket_(socket) {}

TNetlinkSocket::TNetlinkSocket(TNetlinkSocket&& other) noexcept
    : Socket_(std::exchange(other.Socket_, nullptr)), NextSequence_(other.NextSequence_) {}

TNetlinkSocket& TNetlinkSocket::operator=(TNetlinkSocket&& other) noexcept {
    if (this != &other) {
        if (Socket_ != nullptr) mnl_socket_close(Socket_);
        Socket_ = std::exchange(other.Socket_, nullptr);
        NextSequence_ = other.NextSequence_;
    }
    return *this;
}

TNetlinkSocket::~TNetlinkSocket() {
    if (Socket_ != nullptr) mnl_socket_close(Socket_);
}

int TNetlinkSocket::Exchange(nlmsghdr* request, TMessageCallback onMessage, void* data) {
    if (Socket_ == nullptr) return EBADF;
    const uint32_t sequence = NextSequence_++;
    request->nlmsg_seq = sequence;
    const uint32_t portId = mnl_socket_get_portid(Socket_);

    for (;;) {
        if (mnl_socket_sendto(Socket_, request, request->nlmsg_len) >= 0) break;
        if (errno != EINTR) return errno;
    }

    // Our own handlers for the control messages that matter, so that how an
    // exchange ends does not depend on libmnl's defaults (notably a failed
    // dump's NLMSG_DONE, which those defaults take for success).
    mnl_cb_t controlCallbacks[NLMSG_MIN_TYPE] = {};
    controlCallbacks[NLMSG_NOOP] = OnNoopMessage;
    controlCallbacks[NLMSG_ERROR] = OnErrorMessage;
    controlCallbacks[NLMSG_DONE] = OnDoneMessage;
    controlCallbacks[NLMSG_OVERRUN] = OnOverrunMessage;

    // When the callback stops early or fails, the rest of the reply is still
    // read (and ignored) up to its end, so that none of it is left queued on
    // the socket to be mistaken for part of the next reply.
    struct TContext {
        TMessageCallback OnMessage;
        void* Data;
        bool Ignoring = false;
        int Error = 0;
    } context{onMessage, data};
    const mnl_cb_t forward = [](const nlmsghdr* message, void* raw) {
        auto& c = *static_cast<TContext*>(raw);
        if (c.Ignoring) return MNL_CB_OK;
        errno = 0;
        const int status = c.OnMessage(message, c.Data);
        if (status == MNL_CB_ERROR) c.Error = errno != 0 ? errno : EPROTO;
        if (status <= MNL_CB_STOP) c.Ignoring = true;
        return MNL_CB_OK;
    };

    std::vector<char> buffer(kReceiveBufferSize);
    for (;;) {
        const ssize_t received = mnl_socket_recvfrom(Socket_, buffer.data(), buffer.size());
        if (received < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (received == 0) return EPIPE;
        if (!NetlinkFramesValid(buffer.data(), static_cast<size_t>(received))) return EBADMSG;
        errno = 0;
        const int status = mnl_cb_run2(buffer.data(), static_cast<size_t>(received), sequence, portId, forward,
                                       &context, controlCallbacks, NLMSG_MIN_TYPE);
        if (status == MNL_CB_STOP) return context.Error;
        if (status < 0) return context.Error != 0 ? context.Error : errno != 0 ? errno : EPROTO;
    }
}

}  // namespace tarnwick

#include "platform/linux/helper_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <variant>

namespace tarnwick {

bool IsSeqPacketSocket(int fd) {
    int domain = 0;
    int type = 0;
    socklen_t length = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0) return false;
    length = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0) return false;
    return domain == AF_UNIX && type == SOCK_SEQPACKET;
}

// MSG_NOSIGNAL: a closed peer must end the loop, not kill the sender with
// SIGPIPE.
bool SendHelperMessage(int socket, const std::vector<uint8_t>& message, int passedFd) {
    iovec part{const_cast<uint8_t*>(message.data()), message.size()};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (passedFd >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* rights = CMSG_FIRSTHDR(&header);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(rights), &passedFd, sizeof passedFd);
    }
    ssize_t sent;
    do {
        sent = sendmsg(socket, &header, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(message.size());
}

namespace {

bool Serve(int socket, const THelperRequest& request, THelperActions& actions) {
    if (const auto* kill = std::get_if<THelperKillRequest>(&request)) {
        const auto verb = static_cast<uint8_t>(THelperVerb::KillTcp);
        const TStatus killed = actions.KillTcp(kill->Row);
        return SendHelperMessage(socket, killed ? EncodeStatusReply(verb, THelperStatus::Ok)
                                                : EncodeStatusReply(verb, THelperStatus::Failed, killed.Failure().Errno,
                                                                    killed.Failure().Context));
    }
    if (const auto* capture = std::get_if<THelperCaptureRequest>(&request)) {
        const auto verb = static_cast<uint8_t>(THelperVerb::OpenCapture);
        const TResult<TUniqueFd> stream = actions.OpenCapture(capture->InterfaceIndex);
        if (!stream) {
            const TFailure& failure = stream.Failure();
            return SendHelperMessage(socket,
                                     EncodeStatusReply(verb, THelperStatus::Failed, failure.Errno, failure.Context));
        }
        // The peer holds its own copy once this returns; ours closes here,
        // so that the program's close is the forwarder's end.
        return SendHelperMessage(socket, EncodeStatusReply(verb, THelperStatus::Ok), stream->Get());
    }
    const auto& owners = std::get<THelperOwnersRequest>(request);
    for (const std::vector<uint8_t>& message : EncodeOwnersReply(actions.SocketOwners(owners.Inodes))) {
        if (!SendHelperMessage(socket, message)) return false;
    }
    return true;
}

}  // namespace

int ServeHelperRequests(int socket, THelperActions& actions, const std::function<bool()>& parentAlive) {
    if (!SendHelperMessage(socket, EncodeHello(actions.Abilities()))) return 0;
    std::vector<uint8_t> buffer(kMaxHelperRequestSize);
    THelperRequestReader reader;
    for (;;) {
        pollfd watched{socket, POLLIN, 0};
        if (poll(&watched, 1, -1) < 0) {
            if (errno != EINTR) return 1;
            // The parent-death signal, or another: either way, look.
            if (!parentAlive()) return 0;
            continue;
        }
        iovec part{buffer.data(), buffer.size()};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        const ssize_t received = recvmsg(socket, &header, MSG_DONTWAIT);
        if (received == 0) return 0;
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return errno == ECONNRESET ? 0 : 1;
        }
        const std::span<const uint8_t> message(buffer.data(), static_cast<size_t>(received));
        std::optional<std::string> refusedAs;
        if (header.msg_flags & MSG_TRUNC) {
            refusedAs = "a request is longer than " + std::to_string(kMaxHelperRequestSize) + " bytes";
        } else if (header.msg_flags & MSG_CTRUNC) {
            refusedAs = "a request carries no descriptors";
        }
        // Nothing is answered before the last message of a request.
        const std::optional<THelperRequestReader::TOutcome> parsed = reader.Add(message, std::move(refusedAs));
        if (!parsed) continue;
        bool sent;
        if (const auto* refusal = std::get_if<THelperRefusal>(&*parsed)) {
            sent = SendHelperMessage(socket, EncodeStatusReply(refusal->Verb, THelperStatus::Refused, 0, refusal->Reason));
        } else {
            sent = Serve(socket, std::get<THelperRequest>(*parsed), actions);
        }
        if (!sent) return 0;
    }
}

}  // namespace tarnwick

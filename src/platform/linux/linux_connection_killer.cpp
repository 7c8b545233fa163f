#include "platform/linux/linux_connection_killer.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/capability.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/linux/netlink_socket.h"

namespace tarnwick {

namespace {

// A sock_diag request for one IPv4 TCP socket, by its ends.
struct TDiagRequest {
    alignas(nlmsghdr) char Bytes[MNL_NLMSG_HDRLEN + MNL_ALIGN(sizeof(inet_diag_req_v2))];
    nlmsghdr* Header = nullptr;
    inet_diag_req_v2* Diag = nullptr;
};

// An address field of the tables (first byte = first dotted number) as the
// network-order bytes sock_diag expects, independent of the host's byte order.
uint32_t NetAddrFromField(uint32_t field) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(field), static_cast<uint8_t>(field >> 8),
                              static_cast<uint8_t>(field >> 16), static_cast<uint8_t>(field >> 24)};
    uint32_t net = 0;
    std::memcpy(&net, bytes, sizeof net);
    return net;
}

// `type` is SOCK_DIAG_BY_FAMILY (look the socket up) or SOCK_DESTROY (close
// it). Both are single-socket requests (no NLM_F_DUMP) answered by an
// acknowledgement, which NLM_F_ACK asks for even when the request succeeds.
void MakeRequest(TDiagRequest& request, uint16_t type, const inet_diag_sockid& id) {
    std::memset(request.Bytes, 0, sizeof request.Bytes);
    request.Header = mnl_nlmsg_put_header(request.Bytes);
    request.Header->nlmsg_type = type;
    request.Header->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    request.Diag = static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(request.Header, sizeof(inet_diag_req_v2)));
    request.Diag->sdiag_family = AF_INET;
    request.Diag->sdiag_protocol = IPPROTO_TCP;
    // The state mask only filters dumps; a lookup by ends ignores it. All
    // states, so that nothing is filtered should that ever change.
    request.Diag->idiag_states = ~0u;
    request.Diag->id = id;
}

// The system's reason for `error`, with what it means here for the cases a
// user meets: a missing privilege, a kernel without socket closing, a
// connection that ended on its own in the meantime.
std::string KillFailureReason(int error) {
    const std::string text = std::strerror(error);
    switch (error) {
        case EPERM:
        case EACCES:
            return text + " (closing connections needs the CAP_NET_ADMIN capability)";
        case EOPNOTSUPP:
            return text + " (this kernel cannot close sockets: CONFIG_INET_DIAG_DESTROY)";
        case ENOENT:
            return text + " (the connection no longer exists)";
        default:
            return text;
    }
}

bool HasNetAdminCapability() {
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_TO_INDEX(CAP_NET_ADMIN)].effective & CAP_TO_MASK(CAP_NET_ADMIN)) != 0;
}

}  // namespace

std::optional<std::string> TLinuxConnectionKiller::KillTcp(const TTcpRow& row) {
    inet_diag_sockid id{};
    id.idiag_src[0] = NetAddrFromField(row.LocalAddr);
    id.idiag_sport = htons(PortFromField(row.LocalPort));
    id.idiag_dst[0] = NetAddrFromField(row.RemoteAddr);
    id.idiag_dport = htons(PortFromField(row.RemotePort));
    id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    int error = 0;
    std::optional<TNetlinkSocket> netlink = TNetlinkSocket::Open(error);
    if (!netlink) return KillFailureReason(error);

    // The lookup (inet_diag_find_one_icsk() in net/ipv4/inet_diag.c) goes
    // through inet_lookup(), which returns the listener of the local end when
    // no connection has these ends. Only a socket with exactly the row's ends
    // is taken, and its cookie pins the close to that very socket.
    TDiagRequest request;
    MakeRequest(request, SOCK_DIAG_BY_FAMILY, id);
    bool found = false;
    uint32_t cookie[2] = {INET_DIAG_NOCOOKIE, INET_DIAG_NOCOOKIE};
    error = netlink->Exchange(request.Header, [&](const nlmsghdr* message) {
        if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY) return MNL_CB_OK;
        if (mnl_nlmsg_get_payload_len(message) < sizeof(inet_diag_msg)) {
            errno = EBADMSG;
            return MNL_CB_ERROR;
        }
        inet_diag_msg diag;
        std::memcpy(&diag, mnl_nlmsg_get_payload(message), sizeof diag);
        found = diag.idiag_family == AF_INET && diag.id.idiag_src[0] == id.idiag_src[0] &&
                diag.id.idiag_sport == id.idiag_sport && diag.id.idiag_dst[0] == id.idiag_dst[0] &&
                diag.id.idiag_dport == id.idiag_dport;
        cookie[0] = diag.id.idiag_cookie[0];
        cookie[1] = diag.id.idiag_cookie[1];
        return MNL_CB_OK;
    });
    if (error != 0) return KillFailureReason(error);
    if (!found) return KillFailureReason(ENOENT);

    // A socket whose cookie differs (the connection ended and another took its
    // ends since the lookup) is refused by the kernel with ENOENT.
    id.idiag_cookie[0] = cookie[0];
    id.idiag_cookie[1] = cookie[1];
    MakeRequest(request, SOCK_DESTROY, id);
    error = netlink->Exchange(request.Header, [](const nlmsghdr*) { return MNL_CB_OK; });
    if (error != 0) return KillFailureReason(error);
    return std::nullopt;
}

std::optional<std::string> ConnectionKillUnavailableReason() {
    int error = 0;
    std::optional<TNetlinkSocket> netlink = TNetlinkSocket::Open(error);
    if (!netlink) return KillFailureReason(error);

    // A close of a socket that cannot exist: all ends zero, and cookie 0,
    // which no socket has (sock_gen_cookie() in net/core/sock_diag.c counts
    // from 1), so even a socket the lookup might find is refused. A kernel
    // without CONFIG_INET_DIAG_DESTROY answers EOPNOTSUPP before any lookup
    // (inet_diag_cmd_exact()); one with it answers ENOENT.
    inet_diag_sockid id{};
    TDiagRequest request;
    MakeRequest(request, SOCK_DESTROY, id);
    error = netlink->Exchange(request.Header, [](const nlmsghdr*) { return MNL_CB_OK; });
    if (error != ENOENT && error != 0) return KillFailureReason(error);

    // The privilege is checked only once a socket is found, so the answer
    // above cannot tell; the effective set can. (The kernel checks it against
    // the user namespace owning the network namespace, which is ours in all
    // but unusual container set-ups.)
    if (!HasNetAdminCapability()) return KillFailureReason(EPERM);
    return std::nullopt;
}

}  // namespace tarnwick

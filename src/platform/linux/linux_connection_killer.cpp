#include "platform/linux/linux_connection_killer.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/capability.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/linux/diag_reply.h"
#include "platform/linux/netlink_socket.h"

namespace tarnwick {

namespace {

// A sock_diag request for one TCP socket, by its ends.
struct TDiagRequest {
    alignas(nlmsghdr) char Bytes[MNL_NLMSG_HDRLEN + MNL_ALIGN(sizeof(inet_diag_req_v2))];
    nlmsghdr* Header = nullptr;
    inet_diag_req_v2* Diag = nullptr;
};

// An IPv4 address as the network-order word sock_diag expects.
uint32_t NetAddrOf(const TInetAddress& address) {
    uint32_t net = 0;
    std::memcpy(&net, address.Bytes().data(), sizeof net);
    return net;
}

// ::ffff:a.b.c.d, for the network-order IPv4 address `net`, as
// inet_diag_sockid holds an IPv6 address (four words, the bytes in network
// order).
void PutMapped(uint32_t (&words)[4], uint32_t net) {
    words[0] = 0;
    words[1] = 0;
    words[2] = htonl(0x0000FFFFu);
    words[3] = net;
}

void PutIp6(uint32_t (&words)[4], const TIp6Address& address) {
    std::memcpy(words, address.data(), address.size());
}

// The ends of a socket in one form for both families: an IPv4 address as its
// IPv4-mapped IPv6 address. An IPv4 row is one connection whether the kernel
// holds it as an AF_INET socket or as an AF_INET6 socket with mapped ends.
struct TEnds {
    uint32_t Local[4] = {};
    uint32_t Remote[4] = {};
    uint16_t LocalPort = 0;   // network order, as in inet_diag_sockid
    uint16_t RemotePort = 0;
    bool operator==(const TEnds&) const = default;
};

TEnds EndsOf(uint8_t family, const inet_diag_sockid& id) {
    TEnds ends;
    if (family == AF_INET) {
        PutMapped(ends.Local, id.idiag_src[0]);
        PutMapped(ends.Remote, id.idiag_dst[0]);
    } else {
        std::memcpy(ends.Local, id.idiag_src, sizeof ends.Local);
        std::memcpy(ends.Remote, id.idiag_dst, sizeof ends.Remote);
    }
    ends.LocalPort = id.idiag_sport;
    ends.RemotePort = id.idiag_dport;
    return ends;
}

// `type` is SOCK_DIAG_BY_FAMILY (look the socket up) or SOCK_DESTROY (close
// it). Both are single-socket requests (no NLM_F_DUMP) answered by an
// acknowledgement, which NLM_F_ACK asks for even when the request succeeds.
void MakeRequest(TDiagRequest& request, uint16_t type, uint8_t family, const inet_diag_sockid& id) {
    std::memset(request.Bytes, 0, sizeof request.Bytes);
    request.Header = mnl_nlmsg_put_header(request.Bytes);
    request.Header->nlmsg_type = type;
    request.Header->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    request.Diag = static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(request.Header, sizeof(inet_diag_req_v2)));
    request.Diag->sdiag_family = family;
    request.Diag->sdiag_protocol = IPPROTO_TCP;
    // The state mask only filters dumps; a lookup by ends ignores it. All
    // states, so that nothing is filtered should that ever change.
    request.Diag->idiag_states = ~0u;
    request.Diag->id = id;
}

// Looks up the socket of `family` with the ends (and, for an IPv6 row, the
// interface) of `id` and closes it when it has exactly those; 0 or the errno
// of the failure (ENOENT: no such socket).
//
// The lookup (inet_diag_find_one_icsk() in net/ipv4/inet_diag.c) goes
// through inet_lookup() or inet6_lookup(), which return the listener of the
// local end when no connection has these ends. Only a socket with exactly the
// row's ends is taken, and its cookie pins the close to that very socket. An
// IPv4 lookup may also find an AF_INET6 socket with the mapped ends (it is
// hashed by its IPv4 ends), and an AF_INET6 lookup with mapped ends is an
// IPv4 lookup: both are the row's connection.
//
// With `establishedOnly`, a socket found in another state than
// TCP_ESTABLISHED gives ENOTCONN.
int CloseExact(TNetlinkSocket& netlink, uint8_t family, inet_diag_sockid id, bool checkInterface,
               bool establishedOnly) {
    const TEnds wanted = EndsOf(family, id);
    TDiagRequest request;
    MakeRequest(request, SOCK_DIAG_BY_FAMILY, family, id);
    bool found = false;
    bool established = false;
    uint32_t cookie[2] = {INET_DIAG_NOCOOKIE, INET_DIAG_NOCOOKIE};
    int error = netlink.Exchange(request.Header, [&](const nlmsghdr* message) {
        if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY) return MNL_CB_OK;
        inet_diag_msg diag;
        if (!ReadDiagMessage(message, diag)) return MNL_CB_ERROR;
        found = (diag.idiag_family == AF_INET || diag.idiag_family == AF_INET6) &&
                EndsOf(diag.idiag_family, diag.id) == wanted &&
                (!checkInterface || diag.id.idiag_if == id.idiag_if);
        established = diag.idiag_state == TCP_ESTABLISHED;
        cookie[0] = diag.id.idiag_cookie[0];
        cookie[1] = diag.id.idiag_cookie[1];
        return MNL_CB_OK;
    });
    if (error != 0) return error;
    if (!found) return ENOENT;
    if (establishedOnly && !established) return ENOTCONN;

    // A socket whose cookie differs (the connection ended and another took its
    // ends since the lookup) is refused by the kernel with ENOENT.
    id.idiag_cookie[0] = cookie[0];
    id.idiag_cookie[1] = cookie[1];
    MakeRequest(request, SOCK_DESTROY, family, id);
    return netlink.Exchange(request.Header, [](const nlmsghdr*) { return MNL_CB_OK; });
}

// The interface the TCP socket of `family` with exactly the ends of `id` is
// bound to (SO_BINDTODEVICE, or a VRF), found by a dump: a lookup by ends
// without the interface does not find a bound socket. 0 when none is.
uint32_t BoundInterfaceOf(TNetlinkSocket& netlink, uint8_t family, const inet_diag_sockid& id) {
    const TEnds wanted = EndsOf(family, id);
    TDiagRequest request;
    MakeRequest(request, SOCK_DIAG_BY_FAMILY, family, inet_diag_sockid{});
    request.Header->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    uint32_t interface = 0;
    netlink.Exchange(request.Header, [&](const nlmsghdr* message) {
        inet_diag_msg diag;
        if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY || !ReadDiagMessage(message, diag)) return MNL_CB_OK;
        if (diag.idiag_family == family && diag.id.idiag_if != 0 && EndsOf(family, diag.id) == wanted)
            interface = diag.id.idiag_if;
        return MNL_CB_OK;
    });
    return interface;
}

// The failure of `error`, with what it means here for the cases a user
// meets: a missing privilege, a kernel without socket closing, a connection
// that ended on its own in the meantime.
TFailure KillFailure(int error) {
    switch (error) {
        case EPERM:
        case EACCES:
            return {error, "closing connections needs the CAP_NET_ADMIN capability"};
        case EOPNOTSUPP:
            return {error, "this kernel cannot close sockets: CONFIG_INET_DIAG_DESTROY"};
        case ENOENT:
            return {error, "the connection no longer exists"};
        case ENOTCONN:
            return {error, "the connection is not established"};
        default:
            return {error, ""};
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

TStatus TLinuxConnectionKiller::KillTcp(const TTcpRow& row) {
    inet_diag_sockid id{};
    id.idiag_sport = htons(row.LocalPort);
    id.idiag_dport = htons(row.RemotePort);
    id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    TResult<TNetlinkSocket> netlink = TNetlinkSocket::Open();
    if (!netlink) return KillFailure(netlink.Failure().Errno);

    int error = 0;
    if (row.V6()) {
        PutIp6(id.idiag_src, row.LocalAddr.Bytes());
        PutIp6(id.idiag_dst, row.RemoteAddr.Bytes());
        // The lookup honours the interface (a link-local connection is one
        // per interface), and the socket found must be bound to the row's.
        id.idiag_if = row.Interface;
        error = CloseExact(*netlink, AF_INET6, id, true, EstablishedOnly_);
    } else {
        id.idiag_src[0] = NetAddrOf(row.LocalAddr);
        id.idiag_dst[0] = NetAddrOf(row.RemoteAddr);
        error = CloseExact(*netlink, AF_INET, id, false, EstablishedOnly_);
        // An IPv4 row may be an AF_INET6 socket with IPv4-mapped ends (a
        // dual-stack server's connection), should the IPv4 lookup miss it.
        if (error == ENOENT) {
            inet_diag_sockid mapped = id;
            PutMapped(mapped.idiag_src, NetAddrOf(row.LocalAddr));
            PutMapped(mapped.idiag_dst, NetAddrOf(row.RemoteAddr));
            error = CloseExact(*netlink, AF_INET6, mapped, false, EstablishedOnly_);
        }
        // Or a socket bound to an interface, which a lookup finds only with
        // that interface: the tables' IPv4 rows do not carry it, a dump does.
        if (error == ENOENT) {
            for (const uint8_t family : {uint8_t{AF_INET}, uint8_t{AF_INET6}}) {
                inet_diag_sockid bound = id;
                if (family == AF_INET6) {
                    PutMapped(bound.idiag_src, NetAddrOf(row.LocalAddr));
                    PutMapped(bound.idiag_dst, NetAddrOf(row.RemoteAddr));
                }
                bound.idiag_if = BoundInterfaceOf(*netlink, family, bound);
                if (bound.idiag_if == 0) continue;
                error = CloseExact(*netlink, family, bound, true, EstablishedOnly_);
                break;
            }
        }
    }
    if (error != 0) return KillFailure(error);
    return {};
}

TStatus ConnectionKillAvailable() {
    TResult<TNetlinkSocket> netlink = TNetlinkSocket::Open();
    if (!netlink) return KillFailure(netlink.Failure().Errno);

    // A close of a socket that cannot exist: all ends zero, and cookie 0,
    // which no socket has (sock_gen_cookie() in net/core/sock_diag.c counts
    // from 1), so even a socket the lookup might find is refused. A kernel
    // without CONFIG_INET_DIAG_DESTROY answers EOPNOTSUPP before any lookup
    // (inet_diag_cmd_exact()); one with it answers ENOENT.
    inet_diag_sockid id{};
    TDiagRequest request;
    MakeRequest(request, SOCK_DESTROY, AF_INET, id);
    int error = netlink->Exchange(request.Header, [](const nlmsghdr*) { return MNL_CB_OK; });
    if (error != ENOENT && error != 0) return KillFailure(error);

    // The privilege is checked only once a socket is found, so the answer
    // above cannot tell; the effective set can. (The kernel checks it against
    // the user namespace owning the network namespace, which is ours in all
    // but unusual container set-ups.)
    if (!HasNetAdminCapability()) return KillFailure(EPERM);
    return {};
}

}  // namespace tarnwick

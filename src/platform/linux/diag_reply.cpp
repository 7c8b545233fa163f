#include "platform/linux/diag_reply.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/linux/netlink_frames.h"
#include "platform/table_order.h"

namespace tarnwick {

namespace {

// Indexed by the kernel's TCP state, from include/net/tcp_states.h:
//   TCP_ESTABLISHED = 1, TCP_SYN_SENT = 2, TCP_SYN_RECV = 3, TCP_FIN_WAIT1 = 4,
//   TCP_FIN_WAIT2 = 5, TCP_TIME_WAIT = 6, TCP_CLOSE = 7, TCP_CLOSE_WAIT = 8,
//   TCP_LAST_ACK = 9, TCP_LISTEN = 10, TCP_CLOSING = 11, TCP_NEW_SYN_RECV = 12,
//   TCP_BOUND_INACTIVE = 13.
// TCP_NEW_SYN_RECV is a connection request still waiting for the handshake's
// last ACK, hence Syn_Rcvd. TCP_BOUND_INACTIVE is only a dump filter bit
// (bound sockets are reported as TCP_CLOSE), listed so it reads Closed too.
// 0 is no state; it and anything newer read Closed. Delete_Tcb has no
// Linux counterpart and is never produced.
constexpr std::array<TTcpState, 14> kStateByLinuxState = {
    TTcpState::Closed,       // 0: none
    TTcpState::Established,  // TCP_ESTABLISHED
    TTcpState::SynSent,      // TCP_SYN_SENT
    TTcpState::SynRcvd,      // TCP_SYN_RECV
    TTcpState::FinWait1,     // TCP_FIN_WAIT1
    TTcpState::FinWait2,     // TCP_FIN_WAIT2
    TTcpState::TimeWait,     // TCP_TIME_WAIT
    TTcpState::Closed,       // TCP_CLOSE
    TTcpState::CloseWait,    // TCP_CLOSE_WAIT
    TTcpState::LastAck,      // TCP_LAST_ACK
    TTcpState::Listening,    // TCP_LISTEN
    TTcpState::Closing,      // TCP_CLOSING
    TTcpState::SynRcvd,      // TCP_NEW_SYN_RECV
    TTcpState::Closed,       // TCP_BOUND_INACTIVE
};

// The kernel's states that the counters depend on.
constexpr uint8_t kLinuxFinWait2 = 5;
constexpr uint8_t kLinuxTimeWait = 6;
constexpr uint8_t kLinuxCloseWait = 8;
constexpr uint8_t kLinuxLastAck = 9;
constexpr uint8_t kLinuxListen = 10;
constexpr uint8_t kLinuxClosing = 11;

// An IPv4 address as sock_diag gives it: its four bytes in network order, as
// stored in memory.
TInetAddress Ipv4FromDiag(const uint32_t& net) {
    uint8_t b[4];
    std::memcpy(b, &net, sizeof b);
    return TInetAddress::Ipv4(b[0], b[1], b[2], b[3]);
}

// An address of inet_diag_sockid (four 32-bit words holding the 16 bytes in
// network order; an IPv4 address is the first word).
TIp6Address Ip6FromDiag(const uint32_t (&words)[4]) {
    TIp6Address address{};
    std::memcpy(address.data(), words, address.size());
    return address;
}

// A listening socket, or one only bound (no peer), has a tcp_info whose
// counters are zero for want of a connection: it has no traffic to show.
bool CarriesData(const inet_diag_msg& diag) { return diag.idiag_state != kLinuxListen && diag.id.idiag_dport != 0; }

}  // namespace

bool ReadDiagMessage(const nlmsghdr* message, inet_diag_msg& diag) {
    if (mnl_nlmsg_get_payload_len(message) < sizeof(inet_diag_msg)) {
        errno = EBADMSG;
        return false;
    }
    std::memcpy(&diag, mnl_nlmsg_get_payload(message), sizeof diag);
    return true;
}

namespace {

// The payload of the INET_DIAG_INFO attribute of a reply, and its length;
// null and 0 without one. The attributes are walked here rather than through
// libmnl: a dump with the counters holds one per socket, 100,000 of them.
struct TDiagInfo {
    const char* Bytes = nullptr;
    size_t Length = 0;
    // Whether the payload holds the `size` bytes at `offset`.
    bool Holds(size_t offset, size_t size) const { return Bytes != nullptr && offset + size <= Length; }
};

TDiagInfo FindDiagInfo(const nlmsghdr* message) {
    // The message's own end, not its aligned one: the last message of a
    // buffer may end unaligned, and nothing past its length may be read.
    const char* tail = reinterpret_cast<const char*>(message) + message->nlmsg_len;
    const char* at = static_cast<const char*>(mnl_nlmsg_get_payload_offset(message, sizeof(inet_diag_msg)));
    while (tail - at >= static_cast<std::ptrdiff_t>(sizeof(nlattr))) {
        nlattr attr;
        std::memcpy(&attr, at, sizeof attr);
        if (attr.nla_len < sizeof attr || attr.nla_len > tail - at) break;
        if ((attr.nla_type & NLA_TYPE_MASK) == INET_DIAG_INFO)
            return TDiagInfo{at + MNL_ATTR_HDRLEN, attr.nla_len - MNL_ATTR_HDRLEN};
        at += MNL_ALIGN(attr.nla_len);
    }
    return TDiagInfo{};
}

}  // namespace

namespace {

// Whether a socket in kernel state `linuxState` has had its own FIN
// acknowledged (tcpi_bytes_acked then counts it), and whether it has received
// the peer's (tcpi_bytes_received counts that). A Time_Wait socket carries no
// tcp_info; a closed one may have got there by a reset as well as by FINs,
// so it is taken as having received none.
bool OwnFinAcked(uint8_t linuxState) { return linuxState == kLinuxFinWait2 || linuxState == kLinuxTimeWait; }
bool PeerFinReceived(uint8_t linuxState) {
    return linuxState == kLinuxCloseWait || linuxState == kLinuxLastAck || linuxState == kLinuxClosing ||
           linuxState == kLinuxTimeWait;
}

uint64_t ReadInfoField(const char* info, size_t at) {
    uint64_t value = 0;
    std::memcpy(&value, info + at, sizeof value);
    return value;
}

}  // namespace

TSocketTraffic ReadDiagTraffic(const nlmsghdr* message, uint8_t linuxState) {
    // The counters are read from the bytes as sent; the attribute's payload
    // need not be aligned for 64-bit loads.
    constexpr size_t kAckedAt = offsetof(tcp_info, tcpi_bytes_acked);
    constexpr size_t kReceivedAt = offsetof(tcp_info, tcpi_bytes_received);
    constexpr size_t kSentAt = offsetof(tcp_info, tcpi_bytes_sent);
    constexpr size_t kRetransmittedAt = offsetof(tcp_info, tcpi_bytes_retrans);
    TSocketTraffic traffic;
    const TDiagInfo found = FindDiagInfo(message);
    if (!found.Holds(kReceivedAt, sizeof(uint64_t))) return traffic;
    const char* info = found.Bytes;
    // Both counters follow the sequence numbers, in which the SYN and the FIN
    // take one each: bytes_acked counts this end's FIN once acknowledged and,
    // on the end that opened the connection, its SYN; bytes_received counts
    // the peer's FIN (not its SYN, which only sets where the count starts).
    const uint64_t acked = ReadInfoField(info, kAckedAt);
    const uint64_t received = ReadInfoField(info, kReceivedAt);
    const uint64_t ownFin = OwnFinAcked(linuxState) ? 1 : 0;
    const uint64_t peerFin = PeerFinReceived(linuxState) ? 1 : 0;
    traffic.BytesSent = acked > ownFin ? acked - ownFin : 0;
    traffic.BytesReceived = received > peerFin ? received - peerFin : 0;
    // Whether the SYN was counted the state does not say; the data sent
    // (bytes_sent without its retransmissions, kernels from 4.19) bounds what
    // can have been acknowledged, which takes it off once all sent data is.
    if (found.Holds(kRetransmittedAt, sizeof(uint64_t))) {
        const uint64_t sent = ReadInfoField(info, kSentAt);
        const uint64_t retransmitted = ReadInfoField(info, kRetransmittedAt);
        traffic.BytesSent = std::min(traffic.BytesSent, sent > retransmitted ? sent - retransmitted : 0);
    }
    traffic.Known = true;
    return traffic;
}

std::optional<bool> ReadDiagWasEstablished(const nlmsghdr* message) {
    // A handshake that completed delivered one segment at least (the SYN, or
    // the SYN-ACK of an accepted one), and brought the peer's window; a
    // connect refused or never answered has neither. The end that sent a
    // reset had its counts cleared as it did, but not the peer's window.
    // Older kernels lack the window (before 5.4) or the count (before 4.18):
    // then whether any segment came in at all, which a refusal's reset need
    // not show.
    constexpr size_t kDeliveredAt = offsetof(tcp_info, tcpi_delivered);
    constexpr size_t kPeerWindowAt = offsetof(tcp_info, tcpi_snd_wnd);
    constexpr size_t kSegmentsInAt = offsetof(tcp_info, tcpi_segs_in);
    const TDiagInfo info = FindDiagInfo(message);
    uint32_t count = 0;
    if (info.Holds(kPeerWindowAt, sizeof(uint32_t))) {
        uint32_t window = 0;
        std::memcpy(&count, info.Bytes + kDeliveredAt, sizeof count);
        std::memcpy(&window, info.Bytes + kPeerWindowAt, sizeof window);
        count |= window;
    } else if (info.Holds(kDeliveredAt, sizeof(uint32_t))) {
        std::memcpy(&count, info.Bytes + kDeliveredAt, sizeof count);
    } else if (info.Holds(kSegmentsInAt, sizeof(uint32_t))) {
        std::memcpy(&count, info.Bytes + kSegmentsInAt, sizeof count);
    } else {
        return std::nullopt;
    }
    return count != 0;
}

uint64_t DiagCookie(const inet_diag_msg& diag) {
    if (diag.id.idiag_cookie[0] == INET_DIAG_NOCOOKIE && diag.id.idiag_cookie[1] == INET_DIAG_NOCOOKIE) return 0;
    return static_cast<uint64_t>(diag.id.idiag_cookie[1]) << 32 | diag.id.idiag_cookie[0];
}

int ParseDiagSocket(const nlmsghdr* message, uint8_t protocol, std::vector<TTcpRow>& v4, std::vector<TTcpRow>* v6) {
    // The replies of the older request for both families carry its type.
    if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY && message->nlmsg_type != TCPDIAG_GETSOCK) return MNL_CB_OK;
    inet_diag_msg diag;
    if (!ReadDiagMessage(message, diag)) return MNL_CB_ERROR;
    if (diag.idiag_family != AF_INET && diag.idiag_family != AF_INET6) return MNL_CB_OK;

    TInetAddress local;
    TInetAddress remote;
    std::vector<TTcpRow>* rows = &v4;
    if (diag.idiag_family == AF_INET6) {
        const TIp6Address local6 = Ip6FromDiag(diag.id.idiag_src);
        const TIp6Address remote6 = Ip6FromDiag(diag.id.idiag_dst);
        if (IsMappedSocket(local6, remote6)) {
            // A mapped address's IPv4 address is its last four bytes.
            local = Ipv4FromDiag(diag.id.idiag_src[3]);
            remote = Ipv4FromDiag(diag.id.idiag_dst[3]);
        } else {
            if (v6 == nullptr) return MNL_CB_OK;
            rows = v6;
            local = TInetAddress::Ipv6(local6);
            remote = TInetAddress::Ipv6(remote6);
        }
    } else {
        local = Ipv4FromDiag(diag.id.idiag_src[0]);
        remote = Ipv4FromDiag(diag.id.idiag_dst[0]);
    }

    TTcpRow& row = rows->emplace_back();
    row.LocalAddr = local;
    row.LocalPort = ntohs(diag.id.idiag_sport);
    if (protocol == IPPROTO_TCP) {
        row.State = TcpStateFromLinux(diag.idiag_state);
        row.RemoteAddr = remote;
        row.RemotePort = ntohs(diag.id.idiag_dport);
        if (CarriesData(diag)) row.Traffic = ReadDiagTraffic(message, diag.idiag_state);
    } else {
        row.RemoteAddr = TInetAddress::Any(local.V6());
    }
    // Only an IPv6 row tells sockets apart by their interface (link-local
    // addresses); an IPv4 one is named by its addresses alone.
    if (rows == v6) row.Interface = diag.id.idiag_if;
    row.Inode = diag.idiag_inode;
    row.Cookie = DiagCookie(diag);
    row.Traffic.Socket = row.Cookie;
    return MNL_CB_OK;
}

TTcpState TcpStateFromLinux(uint8_t linuxState) {
    return linuxState < kStateByLinuxState.size() ? kStateByLinuxState[linuxState] : TTcpState::Closed;
}

int ParseDiagReplies(const void* buffer, size_t length, uint8_t protocol, std::vector<TTcpRow>& v4,
                     std::vector<TTcpRow>* v6) {
    struct TTarget {
        uint8_t Protocol;
        std::vector<TTcpRow>* V4;
        std::vector<TTcpRow>* V6;
    } target{protocol, &v4, v6};
    if (!NetlinkFramesValid(buffer, length)) return EBADMSG;
    errno = 0;
    // Sequence and port 0: a buffer of any origin is taken as it is.
    const int result = mnl_cb_run(
        buffer, length, 0, 0,
        [](const nlmsghdr* message, void* data) {
            auto* t = static_cast<TTarget*>(data);
            return ParseDiagSocket(message, t->Protocol, *t->V4, t->V6);
        },
        &target);
    return result < 0 ? (errno != 0 ? errno : EBADMSG) : 0;
}

}  // namespace tarnwick

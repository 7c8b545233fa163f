#include "platform/linux/linux_ip_tables.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <system_error>
#include <thread>
#include <tuple>

#include "platform/linux/diag_reply.h"
#include "platform/linux/netlink_socket.h"

namespace tarnwick {

namespace {

using TClock = std::chrono::steady_clock;

// A kept dump is handed over only to the call that directly follows the one
// that took it (a plain fill after its size query, an IPv6 table after the
// IPv4 one); an older one would be a stale table.
constexpr auto kKeptDumpMaxAge = std::chrono::seconds(1);

// The UDP fetch that follows a TCP fetch in one refresh reuses its /proc scan
// when it ended this recently (a scan of many descriptors takes a while
// itself, so the age counts from its end).
constexpr auto kOwnersReuseAge = std::chrono::milliseconds(200);

// A dump the kernel flags as interrupted (NLM_F_DUMP_INTR, reported as EINTR)
// saw its tables change under it; it is simply taken again.
constexpr int kDumpAttempts = 3;

// Room for a dump: the last one's size plus some growth, so that the vector
// rarely reallocates while the replies stream in.
size_t ReserveFor(size_t lastCount) { return lastCount + lastCount / 8 + 64; }

// Table order: local end, remote end; the rest only makes ties deterministic.
template <typename TSocket>
void SortSockets(std::vector<TSocket>& sockets) {
    std::sort(sockets.begin(), sockets.end(), [](const TSocket& a, const TSocket& b) {
        return std::tie(a.LocalKey, a.RemoteKey, a.Row.State, a.Row.OwningPid, a.Inode) <
               std::tie(b.LocalKey, b.RemoteKey, b.Row.State, b.Row.OwningPid, b.Inode);
    });
}

// The same order for IPv6 rows: address bytes in network order compare as
// the numbers they are, then the ports; the interface tells link-local twins
// apart.
template <typename TSocket>
void SortSockets6(std::vector<TSocket>& sockets) {
    std::sort(sockets.begin(), sockets.end(), [](const TSocket& a, const TSocket& b) {
        return std::tie(a.Row.LocalAddr6, a.LocalKey, a.Row.RemoteAddr6, a.RemoteKey, a.Row.Interface, a.Row.State,
                        a.Row.OwningPid, a.Inode) < std::tie(b.Row.LocalAddr6, b.LocalKey, b.Row.RemoteAddr6,
                                                             b.RemoteKey, b.Row.Interface, b.Row.State,
                                                             b.Row.OwningPid, b.Inode);
    });
}

template <typename TSocket>
std::vector<uint8_t> EncodeSockets(const std::vector<TSocket>& sockets, uint8_t protocol, bool extended) {
    if (protocol == IPPROTO_TCP) {
        std::vector<TTcpRow> rows;
        rows.reserve(sockets.size());
        for (const TSocket& socket : sockets) rows.push_back(socket.Row);
        return EncodeTcpTable(rows, extended);
    }
    std::vector<TUdpRow> rows;
    rows.reserve(sockets.size());
    for (const TSocket& socket : sockets) {
        rows.push_back(TUdpRow{socket.Row.LocalAddr, socket.Row.LocalPort, socket.Row.OwningPid});
    }
    return EncodeUdpTable(rows, extended);
}

template <typename TSocket>
std::vector<uint8_t> EncodeSockets6(const std::vector<TSocket>& sockets, uint8_t protocol) {
    if (protocol == IPPROTO_TCP) {
        std::vector<TTcpRow> rows;
        rows.reserve(sockets.size());
        for (const TSocket& socket : sockets) rows.push_back(socket.Row);
        return EncodeTcp6Table(rows);
    }
    std::vector<TUdpRow> rows;
    rows.reserve(sockets.size());
    for (const TSocket& socket : sockets) {
        TUdpRow& row = rows.emplace_back();
        row.LocalPort = socket.Row.LocalPort;
        row.OwningPid = socket.Row.OwningPid;
        row.V6 = true;
        row.LocalAddr6 = socket.Row.LocalAddr6;
        row.Interface = socket.Row.Interface;
    }
    return EncodeUdp6Table(rows);
}

// The sorted socket inodes of `families`, and those of `more` (sorted).
std::vector<uint64_t> InodesOf(std::initializer_list<const std::vector<TDiagSocket>*> families,
                               const std::vector<uint64_t>& more = {}) {
    std::vector<uint64_t> inodes;
    size_t total = more.size();
    for (const auto* family : families) total += family->size();
    inodes.reserve(total);
    for (const auto* family : families) {
        for (const TDiagSocket& socket : *family) inodes.push_back(socket.Inode);
    }
    inodes.insert(inodes.end(), more.begin(), more.end());
    std::sort(inodes.begin(), inodes.end());
    return inodes;
}

// The byte counters come in each TCP socket's tcp_info (INET_DIAG_INFO),
// sent along when the request asks for that extension.
void AskForTraffic(inet_diag_req_v2& request) { request.idiag_ext |= 1u << (INET_DIAG_INFO - 1); }

// The counters of `sockets`, each with its socket's cookie; none at all when
// the dump did not ask for them, so that their rows read as never counted
// rather than as counted and unknown.
std::vector<TSocketTraffic> TrafficOf(const std::vector<TDiagSocket>& sockets, bool read) {
    std::vector<TSocketTraffic> traffic;
    if (!read) return traffic;
    traffic.reserve(sockets.size());
    for (const TDiagSocket& socket : sockets) {
        traffic.push_back(socket.Traffic);
        traffic.back().Socket = socket.Row.Cookie;
    }
    return traffic;
}

std::vector<TSocketIdentity> IdentitiesOf(const std::vector<TDiagSocket>& sockets) {
    std::vector<TSocketIdentity> identities;
    identities.reserve(sockets.size());
    for (const TDiagSocket& socket : sockets) identities.push_back({socket.Row.Cookie, socket.Row.Inode});
    return identities;
}

// What was kept per row of the IPv4 table, then of the IPv6 one, handed
// over once: both are left empty.
template <typename T>
std::vector<T> TakeInRowOrder(std::vector<T>& v4, std::vector<T>& v6) {
    std::vector<T> taken = std::move(v4);
    taken.insert(taken.end(), v6.begin(), v6.end());
    v4.clear();
    v6.clear();
    return taken;
}

template <typename TSocket>
void AssignOwners(std::vector<TSocket>& sockets, const TSocketOwners& owners) {
    for (TSocket& socket : sockets) socket.Row.OwningPid = owners.PidOf(socket.Inode);
}

}  // namespace

TLinuxIpTables::TProtocolState& TLinuxIpTables::StateOf(uint8_t protocol) {
    return protocol == IPPROTO_TCP ? Tcp_ : Udp_;
}

int TLinuxIpTables::DumpFamily(uint8_t protocol, uint8_t family, bool keepV6, TDump& dump) {
    const size_t v4Start = dump.V4.size();
    const size_t v6Start = dump.V6.size();
    int error = 0;
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
        dump.V4.erase(dump.V4.begin() + static_cast<std::ptrdiff_t>(v4Start), dump.V4.end());
        dump.V6.erase(dump.V6.begin() + static_cast<std::ptrdiff_t>(v6Start), dump.V6.end());

        // A fresh socket per dump: an aborted dump leaves nothing behind for
        // the next one to trip over.
        std::optional<TNetlinkSocket> netlink = TNetlinkSocket::Open(error);
        if (!netlink) break;

        alignas(nlmsghdr) char request[MNL_NLMSG_HDRLEN + MNL_ALIGN(sizeof(inet_diag_req_v2))];
        nlmsghdr* header = mnl_nlmsg_put_header(request);
        header->nlmsg_type = SOCK_DIAG_BY_FAMILY;
        header->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        auto* diagRequest = static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(header, sizeof(inet_diag_req_v2)));
        diagRequest->sdiag_family = family;
        diagRequest->sdiag_protocol = protocol;
        // One bit per state (1 << TCP_xxx); all of them. UDP sockets use
        // TCP_ESTABLISHED when connected and TCP_CLOSE otherwise.
        diagRequest->idiag_states = ~0u;
        if (protocol == IPPROTO_TCP && ReadTraffic_) AskForTraffic(*diagRequest);

        error = netlink->Exchange(header, [&](const nlmsghdr* message) {
            return ParseDiagSocket(message, protocol, dump.V4, keepV6 ? &dump.V6 : nullptr);
        });
        if (error != EINTR) break;
    }
    if (error != 0) {
        dump.V4.erase(dump.V4.begin() + static_cast<std::ptrdiff_t>(v4Start), dump.V4.end());
        dump.V6.erase(dump.V6.begin() + static_cast<std::ptrdiff_t>(v6Start), dump.V6.end());
        return error;
    }
    // The counters' time is the dump's, not the time the refresh gets to them
    // after the owners and host names: rates are the growth over the time
    // between two readings.
    const TClock::time_point read = TClock::now();
    for (auto it = dump.V4.begin() + static_cast<std::ptrdiff_t>(v4Start); it != dump.V4.end(); ++it)
        it->Traffic.ReadAt = read;
    for (auto it = dump.V6.begin() + static_cast<std::ptrdiff_t>(v6Start); it != dump.V6.end(); ++it)
        it->Traffic.ReadAt = read;
    return 0;
}

int TLinuxIpTables::Dump(uint8_t protocol, TDumpScope scope, TDump& dump) {
    TProtocolState& state = StateOf(protocol);
    const bool v4 = scope != TDumpScope::Ipv6Tables;
    const bool v6 = scope != TDumpScope::Ipv4Tables;
    dump.V4.clear();
    dump.V6.clear();
    dump.V4.reserve(ReserveFor(v4 ? state.LastV4Count : 0));
    if (v6) dump.V6.reserve(ReserveFor(state.LastV6Count));

    int error = v4 ? DumpFamily(protocol, AF_INET, v6, dump) : 0;
    if (error == 0) {
        error = DumpFamily(protocol, AF_INET6, v6, dump);
        // A kernel without AF_INET6 socket diagnostics has no IPv6 sockets to
        // list: sock_diag answers ENOENT for a family without a handler
        // (__sock_diag_cmd() in net/core/sock_diag.c).
        if (error == ENOENT) error = 0;
    }
    if (error != 0) {
        dump.V4.clear();
        dump.V6.clear();
        return error;
    }
    if (v4) state.LastV4Count = dump.V4.size();
    if (v6) state.LastV6Count = dump.V6.size();
    return 0;
}

uint32_t TLinuxIpTables::GetTcpExTable(std::vector<uint8_t>& table) {
    std::lock_guard lock(Mutex_);
    table.clear();
    Tcp_.KeptV6 = TKeptDump{};
    Traffic4_.clear();
    Traffic6_.clear();
    Identities4_.clear();
    Identities6_.clear();
    TDump dump;
    std::vector<uint64_t> inodes;
    {
        // When no owners are known yet (the first refresh), every process's
        // descriptors are read on a second thread while this one dumps: the
        // two take about as long. The thread is joined before the owners are
        // asked for, and FindOwners then checks each process read meanwhile
        // (its descriptor count and /proc directory) and reads again those
        // that changed, and looks for sockets no process held among the
        // processes new since, as on every refresh with known owners. So the
        // owners are those of a look after the dump, up to what the cache
        // always leaves to the next look: a process that opened a socket in
        // place of another descriptor (see TSocketOwnerCache).
        std::jthread preparing;
        if (Owners_->WantsPreparing()) {
            try {
                preparing = std::jthread([owners = Owners_] { owners->PrepareOwners(); });
            } catch (const std::system_error&) {
                // No thread to be had: FindOwners reads every process itself.
            }
        }
        if (const int error = Dump(IPPROTO_TCP, TDumpScope::Both, dump); error != 0)
            return static_cast<uint32_t>(error);
        // The last UDP dump's sockets are looked for too, for the UDP fetch that follows.
        inodes = InodesOf({&dump.V4, &dump.V6}, PreviousUdpInodes_);
    }

    // Looked for after the dump, so every dumped socket already existed when
    // its owner's descriptors were read.
    RecentOwners_ = Owners_->FindOwners(inodes);
    RecentOwnersTaken_ = TClock::now();
    AssignOwners(dump.V4, *RecentOwners_);
    AssignOwners(dump.V6, *RecentOwners_);
    SortSockets(dump.V4);
    table = EncodeSockets(dump.V4, IPPROTO_TCP, true);
    Traffic4_ = TrafficOf(dump.V4, ReadTraffic_);
    Identities4_ = IdentitiesOf(dump.V4);
    Tcp_.KeptV6 = TKeptDump{std::move(dump.V6), RecentOwnersTaken_, true};
    return kTableOk;
}

uint32_t TLinuxIpTables::GetUdpExTable(std::vector<uint8_t>& table) {
    std::lock_guard lock(Mutex_);
    table.clear();
    Udp_.KeptV6 = TKeptDump{};
    TDump dump;
    if (const int error = Dump(IPPROTO_UDP, TDumpScope::Both, dump); error != 0) return static_cast<uint32_t>(error);
    const TClock::time_point dumped = TClock::now();

    // The TCP fetch's owners are reused when recent, unless some socket is
    // absent from them and was not in the last UDP dump either: that one may
    // have been opened after the TCP fetch looked, and only a new look can
    // tell its owner. Sockets absent that were already in the last dump were
    // looked for then, so a new look would not find them either.
    bool rescan = !RecentOwners_ || dumped - RecentOwnersTaken_ > kOwnersReuseAge;
    for (const std::vector<TDumpedSocket>* family : {&dump.V4, &dump.V6}) {
        for (size_t i = 0; i < family->size() && !rescan; ++i) {
            const uint64_t inode = (*family)[i].Inode;
            rescan = inode != 0 && !RecentOwners_->Contains(inode) &&
                     !std::binary_search(PreviousUdpInodes_.begin(), PreviousUdpInodes_.end(), inode);
        }
    }
    if (rescan) {
        RecentOwners_ = Owners_->FindOwners(InodesOf({&dump.V4, &dump.V6}));
        RecentOwnersTaken_ = TClock::now();
    }
    AssignOwners(dump.V4, *RecentOwners_);
    AssignOwners(dump.V6, *RecentOwners_);

    PreviousUdpInodes_.clear();
    PreviousUdpInodes_.reserve(dump.V4.size() + dump.V6.size());
    for (const std::vector<TDumpedSocket>* family : {&dump.V4, &dump.V6}) {
        for (const TDumpedSocket& socket : *family) PreviousUdpInodes_.push_back(socket.Inode);
    }
    std::sort(PreviousUdpInodes_.begin(), PreviousUdpInodes_.end());

    SortSockets(dump.V4);
    table = EncodeSockets(dump.V4, IPPROTO_UDP, true);
    Udp_.KeptV6 = TKeptDump{std::move(dump.V6), dumped, true};
    return kTableOk;
}

uint32_t TLinuxIpTables::GetTcp6ExTable(std::vector<uint8_t>& table) {
    std::lock_guard lock(Mutex_);
    return GetEx6Table(IPPROTO_TCP, table);
}

uint32_t TLinuxIpTables::GetUdp6ExTable(std::vector<uint8_t>& table) {
    std::lock_guard lock(Mutex_);
    return GetEx6Table(IPPROTO_UDP, table);
}

uint32_t TLinuxIpTables::GetEx6Table(uint8_t protocol, std::vector<uint8_t>& table) {
    table.clear();
    TKeptDump& kept = StateOf(protocol).KeptV6;
    std::vector<TDumpedSocket> sockets;
    const bool tcp = protocol == IPPROTO_TCP;
    if (tcp) {
        Traffic6_.clear();
        Identities6_.clear();
    }
    if (kept.Valid && TClock::now() - kept.Taken < kKeptDumpMaxAge) {
        sockets = std::move(kept.Sockets);
    } else {
        TDump dump;
        if (const int error = Dump(protocol, TDumpScope::Ipv6Tables, dump); error != 0) {
            kept = TKeptDump{};
            return static_cast<uint32_t>(error);
        }
        RecentOwners_ = Owners_->FindOwners(InodesOf({&dump.V6}));
        RecentOwnersTaken_ = TClock::now();
        AssignOwners(dump.V6, *RecentOwners_);
        sockets = std::move(dump.V6);
    }
    kept = TKeptDump{};
    SortSockets6(sockets);
    table = EncodeSockets6(sockets, protocol);
    // Each row's counters come with it, from whichever dump gave the row.
    if (tcp) {
        Traffic6_ = TrafficOf(sockets, ReadTraffic_);
        Identities6_ = IdentitiesOf(sockets);
    }
    return kTableOk;
}

std::vector<TSocketTraffic> TLinuxIpTables::TakeTcpTraffic() {
    std::lock_guard lock(Mutex_);
    return TakeInRowOrder(Traffic4_, Traffic6_);
}

std::vector<TSocketIdentity> TLinuxIpTables::TakeTcpIdentities() {
    std::lock_guard lock(Mutex_);
    return TakeInRowOrder(Identities4_, Identities6_);
}

uint32_t TLinuxIpTables::OwnerOfSocket(uint64_t inode) {
    if (inode == 0) return 0;
    std::lock_guard lock(Mutex_);
    return Owners_->FindOwners({inode}).PidOf(inode);
}

uint32_t TLinuxIpTables::GetTcpTable(uint8_t* buffer, uint32_t& size, bool sorted) {
    std::lock_guard lock(Mutex_);
    return GetPlainTable(IPPROTO_TCP, buffer, size, sorted);
}

uint32_t TLinuxIpTables::GetUdpTable(uint8_t* buffer, uint32_t& size, bool sorted) {
    std::lock_guard lock(Mutex_);
    return GetPlainTable(IPPROTO_UDP, buffer, size, sorted);
}

uint32_t TLinuxIpTables::GetPlainTable(uint8_t protocol, uint8_t* buffer, uint32_t& size, bool sorted) {
    TKeptDump& kept = StateOf(protocol).KeptPlain;
    const size_t rowSize = protocol == IPPROTO_TCP ? kTcpRowSize : kUdpRowSize;
    const TClock::time_point now = TClock::now();

    std::vector<TDumpedSocket> sockets;
    TClock::time_point taken = now;
    if (buffer != nullptr && kept.Valid && now - kept.Taken < kKeptDumpMaxAge) {
        sockets = std::move(kept.Sockets);
        taken = kept.Taken;
    } else {
        TDump dump;
        if (const int error = Dump(protocol, TDumpScope::Ipv4Tables, dump); error != 0) {
            kept = TKeptDump{};
            if (buffer != nullptr && size >= kTableCountSize) std::memset(buffer, 0, kTableCountSize);
            return static_cast<uint32_t>(error);
        }
        sockets = std::move(dump.V4);
    }
    kept = TKeptDump{};

    const size_t needed = kTableCountSize + sockets.size() * rowSize;
    if (buffer == nullptr || size < needed) {
        size = static_cast<uint32_t>(needed);
        kept.Sockets = std::move(sockets);
        kept.Taken = taken;
        kept.Valid = true;
        return kInsufficientBuffer;
    }
    if (sorted) SortSockets(sockets);
    const std::vector<uint8_t> table = EncodeSockets(sockets, protocol, false);
    std::memcpy(buffer, table.data(), table.size());
    return kTableOk;
}

std::optional<std::string> SockDiagUnavailableReason() {
    int error = 0;
    if (TNetlinkSocket::Open(error)) return std::nullopt;
    return std::strerror(error);
}

}  // namespace tarnwick

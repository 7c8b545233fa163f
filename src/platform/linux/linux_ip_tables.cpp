#include "platform/linux/linux_ip_tables.h"

#include <libmnl/libmnl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "platform/linux/diag_reply.h"
#include "platform/linux/netlink_socket.h"
#include "platform/table_order.h"

namespace tarnwick {

namespace {

using TClock = std::chrono::steady_clock;

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

// The rows of a dump by their sockets' inodes, ascending, so that the owners
// (by inode too) are given to them in one merge rather than a search each.
class TRowsByInode {
public:
    TRowsByInode(std::vector<TTcpRow>& v4, std::vector<TTcpRow>& v6) {
        Rows_.reserve(v4.size() + v6.size());
        for (std::vector<TTcpRow>* family : {&v4, &v6})
            for (TTcpRow& row : *family) Rows_.emplace_back(row.Inode, &row);
        std::sort(Rows_.begin(), Rows_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }

    // The inodes, ascending, and those of `more` (ascending) among them.
    std::vector<uint64_t> Inodes(const std::vector<uint64_t>& more = {}) const {
        std::vector<uint64_t> inodes;
        inodes.reserve(Rows_.size() + more.size());
        auto next = more.begin();
        for (const auto& [inode, row] : Rows_) {
            for (; next != more.end() && *next < inode; ++next) inodes.push_back(*next);
            inodes.push_back(inode);
        }
        inodes.insert(inodes.end(), next, more.end());
        return inodes;
    }

    void AssignOwners(const TSocketOwners& owners) const {
        const auto& entries = owners.Entries();
        auto owner = entries.begin();
        for (const auto& [inode, row] : Rows_) {
            while (owner != entries.end() && owner->first < inode) ++owner;
            row->OwningPid = inode != 0 && owner != entries.end() && owner->first == inode ? owner->second : 0;
        }
    }

private:
    std::vector<std::pair<uint64_t, TTcpRow*>> Rows_;
};

// The byte counters come in each TCP socket's tcp_info (INET_DIAG_INFO),
// sent along when the request asks for that extension.
constexpr uint8_t kTrafficExtension = 1u << (INET_DIAG_INFO - 1);

TFailure DumpFailure(uint8_t protocol, int error) {
    return TFailure{error, protocol == IPPROTO_TCP ? "reading the TCP sockets" : "reading the UDP sockets"};
}

}  // namespace

int TLinuxIpTables::DumpFamily(uint8_t protocol, uint8_t family, const TTableRequest& request, TDump& dump) {
    // A walk of both families at once is asked with the older inet_diag
    // request (TCP only), whose replies are the same messages.
    const bool bothFamilies = family == AF_UNSPEC;
    const size_t v4Start = dump.V4.size();
    const size_t v6Start = dump.V6.size();
    int error = 0;
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
        dump.V4.erase(dump.V4.begin() + static_cast<std::ptrdiff_t>(v4Start), dump.V4.end());
        dump.V6.erase(dump.V6.begin() + static_cast<std::ptrdiff_t>(v6Start), dump.V6.end());

        // A fresh socket per dump: an aborted dump leaves nothing behind for
        // the next one to trip over.
        TResult<TNetlinkSocket> netlink = TNetlinkSocket::Open();
        if (!netlink) {
            error = netlink.Failure().Errno;
            break;
        }

        alignas(nlmsghdr) char buffer[MNL_NLMSG_HDRLEN + MNL_ALIGN(std::max(sizeof(inet_diag_req_v2), sizeof(inet_diag_req)))];
        nlmsghdr* header = mnl_nlmsg_put_header(buffer);
        header->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        // One bit per state (1 << TCP_xxx); all of them. UDP sockets use
        // TCP_ESTABLISHED when connected and TCP_CLOSE otherwise.
        const uint32_t states = ~0u;
        const uint8_t extensions = protocol == IPPROTO_TCP && request.Traffic ? kTrafficExtension : 0;
        if (bothFamilies) {
            header->nlmsg_type = TCPDIAG_GETSOCK;
            auto* diagRequest = static_cast<inet_diag_req*>(mnl_nlmsg_put_extra_header(header, sizeof(inet_diag_req)));
            diagRequest->idiag_states = states;
            diagRequest->idiag_ext = extensions;
        } else {
            header->nlmsg_type = SOCK_DIAG_BY_FAMILY;
            auto* diagRequest =
                static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(header, sizeof(inet_diag_req_v2)));
            diagRequest->sdiag_family = family;
            diagRequest->sdiag_protocol = protocol;
            diagRequest->idiag_states = states;
            diagRequest->idiag_ext = extensions;
        }

        error = netlink->Exchange(header, [&](const nlmsghdr* message) {
            return ParseDiagSocket(message, protocol, dump.V4, request.Ipv6 ? &dump.V6 : nullptr);
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

int TLinuxIpTables::Dump(uint8_t protocol, const TTableRequest& request, TDump& dump) {
    TDumpSizes& sizes = protocol == IPPROTO_TCP ? TcpSizes_ : UdpSizes_;
    dump.V4.clear();
    dump.V6.clear();
    // The IPv6 rows join the IPv4 ones at the end: room for both.
    dump.V4.reserve(ReserveFor(sizes.V4) + (request.Ipv6 ? sizes.V6 : 0));
    if (request.Ipv6) dump.V6.reserve(ReserveFor(sizes.V6));

    // Each request walks the kernel's table of every socket of the protocol,
    // whatever its family: one walk for both families, where the kernel takes
    // the request for it, costs about half of one walk per family.
    int error = protocol == IPPROTO_TCP ? DumpFamily(protocol, AF_UNSPEC, request, dump) : -1;
    if (error != 0) {
        error = DumpFamily(protocol, AF_INET, request, dump);
        if (error == 0) {
            error = DumpFamily(protocol, AF_INET6, request, dump);
            // A kernel without AF_INET6 socket diagnostics has no IPv6 sockets to
            // list: sock_diag answers ENOENT for a family without a handler
            // (__sock_diag_cmd() in net/core/sock_diag.c).
            if (error == ENOENT) error = 0;
        }
    }
    if (error != 0) {
        dump.V4.clear();
        dump.V6.clear();
        return error;
    }
    sizes.V4 = dump.V4.size();
    if (request.Ipv6) sizes.V6 = dump.V6.size();
    return 0;
}

TResult<TTcpTable> TLinuxIpTables::FetchTcp(const TTableRequest& request) {
    std::lock_guard lock(Mutex_);
    TDump dump;
    if (const int error = Dump(IPPROTO_TCP, request, dump); error != 0) return DumpFailure(IPPROTO_TCP, error);
    // Looked for after the dump, so every dumped socket already existed when
    // its owner's descriptors were read; the last UDP dump's sockets too, for
    // the UDP fetch that follows. (Reading the descriptors while the tables
    // are dumped would not spare a second reading: a socket that no process
    // read before it existed holds, as any other user's does, sends the
    // look through every process again.)
    const TRowsByInode byInode(dump.V4, dump.V6);
    RecentOwners_ = Owners_->FindOwners(byInode.Inodes(PreviousUdpInodes_));
    RecentOwnersTaken_ = TClock::now();
    byInode.AssignOwners(*RecentOwners_);
    TTcpTable table;
    table.Ipv6Rows = dump.V6.size();
    table.Rows = JoinedRows(std::move(dump.V4), std::move(dump.V6));
    table.TrafficRead = request.Traffic;
    return table;
}

TResult<TUdpTable> TLinuxIpTables::FetchUdp(const TTableRequest& request) {
    std::lock_guard lock(Mutex_);
    TDump dump;
    if (const int error = Dump(IPPROTO_UDP, request, dump); error != 0) return DumpFailure(IPPROTO_UDP, error);
    const TClock::time_point dumped = TClock::now();

    // The TCP fetch's owners are reused when recent, unless some socket is
    // absent from them and was not in the last UDP dump either: that one may
    // have been opened after the TCP fetch looked, and only a new look can
    // tell its owner. Sockets absent that were already in the last dump were
    // looked for then, so a new look would not find them either.
    bool rescan = !RecentOwners_ || dumped - RecentOwnersTaken_ > kOwnersReuseAge;
    for (const std::vector<TTcpRow>* family : {&dump.V4, &dump.V6}) {
        for (size_t i = 0; i < family->size() && !rescan; ++i) {
            const uint64_t inode = (*family)[i].Inode;
            rescan = inode != 0 && !RecentOwners_->Contains(inode) &&
                     !std::binary_search(PreviousUdpInodes_.begin(), PreviousUdpInodes_.end(), inode);
        }
    }
    const TRowsByInode byInode(dump.V4, dump.V6);
    PreviousUdpInodes_ = byInode.Inodes();
    if (rescan) {
        RecentOwners_ = Owners_->FindOwners(PreviousUdpInodes_);
        RecentOwnersTaken_ = TClock::now();
    }
    byInode.AssignOwners(*RecentOwners_);

    TUdpTable table;
    table.Ipv6Rows = dump.V6.size();
    const std::vector<TTcpRow> sockets = JoinedRows(std::move(dump.V4), std::move(dump.V6));
    table.Rows.reserve(sockets.size());
    for (const TTcpRow& socket : sockets) table.Rows.push_back(UdpRowOf(socket));
    return table;
}

uint32_t TLinuxIpTables::OwnerOfSocket(uint64_t inode) {
    if (inode == 0) return 0;
    std::lock_guard lock(Mutex_);
    return Owners_->FindOwners({inode}).PidOf(inode);
}

TStatus SockDiagAvailable() {
    if (TResult<TNetlinkSocket> netlink = TNetlinkSocket::Open(); !netlink) return netlink.Failure();
    return {};
}

}  // namespace tarnwick

// The TCP and UDP tables of a Linux system, IPv4 and IPv6.
//
// Sockets come from sock_diag dumps (NETLINK_SOCK_DIAG, with every state: for
// TCP one inet_diag_req, the older request, which walks both families at
// once; for UDP, or where a kernel refuses that, one inet_diag_req_v2 per
// family, AF_INET and AF_INET6), owners from the /proc descriptor links (see
// socket_owners.h), read after the dump. The owning pid is 0 for a socket
// whose process cannot be seen (another user's, without privileges) and for
// sockets no process holds (TIME_WAIT, half-open connections).
//
// The IPv4 rows hold every AF_INET socket the kernel knows for the protocol
// (for TCP the listeners, connections in every state and sockets merely bound,
// which read Closed; for UDP every bound or connected socket, by its local end)
// and every AF_INET6 socket that carries IPv4 traffic only: its local end
// IPv4-mapped (::ffff:a.b.c.d) and its remote end mapped too, or unspecified
// (a listener or a merely bound socket). Those are IPv4 rows with IPv4
// addresses, so a dual-stack server's accepted IPv4 connections look like
// any other IPv4 connection. The IPv6 rows hold every other AF_INET6 socket
// (a dual-stack listener on "::" among them), with the interface the socket is
// bound to (idiag_if).
//
// Fetching is serialised by an internal lock, so one object may be shared.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ip_tables.h"
#include "platform/linux/socket_owners.h"

namespace tarnwick {

// Whether the tables can be read on this system: a failure (with the system's
// errno) where netlink socket diagnostics cannot be opened.
TStatus SockDiagAvailable();

class TLinuxIpTables final : public TIpTables {
public:
    // Owners are read from this process's view of /proc.
    TLinuxIpTables() = default;
    // Owners come from `owners` (which must outlive the tables): for a
    // process that may not read other users' descriptors, tarnwick-helper.
    explicit TLinuxIpTables(TSocketOwnerSource& owners) : Owners_(&owners) {}

    // Each call dumps both families of its protocol afresh (the mapped
    // sockets are in the AF_INET6 dump). The TCP call reads the owners from
    // /proc; the UDP call reuses that reading when it is recent (the calls of
    // one refresh) and holds every socket it needs, and reads /proc again
    // otherwise. A failure is the errno of the failing netlink operation; a
    // kernel without AF_INET6 socket diagnostics simply has no IPv6 sockets.
    TResult<TTcpTable> FetchTcp(const TTableRequest& request) override;
    TResult<TUdpTable> FetchUdp(const TTableRequest& request) override;

    // Asked of the owner source, as a fetch asks it.
    uint32_t OwnerOfSocket(uint64_t inode) override;

private:
    // The sockets of one protocol: the IPv4 rows and the IPv6 ones.
    struct TDump {
        std::vector<TTcpRow> V4;
        std::vector<TTcpRow> V6;
    };

    // Row counts of a protocol's last dumps, to reserve room for the next ones.
    struct TDumpSizes {
        size_t V4 = 0;
        size_t V6 = 0;
    };

    int Dump(uint8_t protocol, const TTableRequest& request, TDump& dump);
    // One dump request; AF_UNSPEC for both families (TCP only).
    int DumpFamily(uint8_t protocol, uint8_t family, const TTableRequest& request, TDump& dump);

    TProcSocketOwnerSource ProcOwners_;
    TSocketOwnerSource* Owners_ = &ProcOwners_;
    std::mutex Mutex_;
    TDumpSizes TcpSizes_;
    TDumpSizes UdpSizes_;
    // The owners read by the last TCP fetch, which the UDP fetch of the same
    // refresh reuses, and the inodes the last UDP dump held: only a socket
    // newer than that scan can be missing from it for want of a rescan.
    std::optional<TSocketOwners> RecentOwners_;
    std::chrono::steady_clock::time_point RecentOwnersTaken_;
    std::vector<uint64_t> PreviousUdpInodes_;
};

}  // namespace tarnwick

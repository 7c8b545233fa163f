// The TCP and UDP tables of a Linux system, IPv4 and IPv6.
//
// Sockets come from sock_diag dumps (NETLINK_SOCK_DIAG, one inet_diag_req_v2
// per family, AF_INET and AF_INET6, with every state), owners from the /proc
// descriptor links (see socket_owners.h). Both paths are always available; the
// owning pid is 0 for a socket whose process cannot be seen (another user's,
// without privileges) and for sockets no process holds (TIME_WAIT, half-open
// connections).
//
// The IPv4 tables hold every AF_INET socket the kernel knows for the protocol
// (for TCP the listeners, connections in every state and sockets merely bound,
// which read Closed; for UDP every bound or connected socket, by its local end)
// and every AF_INET6 socket that carries IPv4 traffic only: its local end
// IPv4-mapped (::ffff:a.b.c.d) and its remote end mapped too, or unspecified
// (a listener or a merely bound socket). Those are IPv4 rows with dotted
// addresses, so a dual-stack server's accepted IPv4 connections look like
// any other IPv4 connection. The IPv6 tables hold every other AF_INET6 socket
// (a dual-stack listener on "::" among them), with the interface the socket is
// bound to (idiag_if). The plain path has IPv4 tables only.
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
#include "platform/linux/diag_reply.h"
#include "platform/linux/socket_owners.h"

namespace tarnwick {

// Why the tables cannot be read on this system (no netlink socket diagnostics:
// the system's reason), or nullopt when they can.
std::optional<std::string> SockDiagUnavailableReason();

class TLinuxIpTables final : public TIpTables {
public:
    // Owners are read from this process's view of /proc.
    TLinuxIpTables() = default;
    // Owners come from `owners` (which must outlive the tables): for a
    // process that may not read other users' descriptors, tarnwick-helper.
    explicit TLinuxIpTables(TSocketOwnerSource& owners) : Owners_(&owners) {}

    bool ExTablesAvailable() const override { return true; }

    // Each IPv4 call dumps both families of its protocol afresh (the mapped
    // sockets are in the AF_INET6 dump) and rows are sorted. The TCP call
    // reads the owners from /proc; the UDP call reuses that reading when it
    // is recent (the calls of one refresh) and holds every socket it needs,
    // and reads /proc again otherwise. Errors are the errno of the failing
    // netlink operation; a kernel without AF_INET6 socket diagnostics simply
    // has no IPv6 sockets.
    uint32_t GetTcpExTable(std::vector<uint8_t>& table) override;
    uint32_t GetUdpExTable(std::vector<uint8_t>& table) override;

    // The IPv6 half of the last IPv4 call's dump of the protocol, owners and
    // all, handed over once to the IPv6 call that follows it within a second
    // (as in a refresh), so both tables show one moment and one /proc scan
    // serves both families. Without such a dump the call dumps AF_INET6 and
    // scans /proc afresh.
    uint32_t GetTcp6ExTable(std::vector<uint8_t>& table) override;
    uint32_t GetUdp6ExTable(std::vector<uint8_t>& table) override;

    // The counters of the last GetTcpExTable's rows, then of the last
    // GetTcp6ExTable's after it. Read only while ReadTraffic is on.
    std::vector<TSocketTraffic> TakeTcpTraffic() override;
    // The sockets of those rows likewise, read whether or not the counters are.
    std::vector<TSocketIdentity> TakeTcpIdentities() override;
    // Asked of the owner source, as a fetch asks it.
    uint32_t OwnerOfSocket(uint64_t inode) override;

    // Whether TCP dumps ask for each socket's tcp_info, which carries the byte
    // counters (on by default).
    void SetReadTraffic(bool read) override {
        std::lock_guard lock(Mutex_);
        ReadTraffic_ = read;
    }

    // A call that answers kInsufficientBuffer keeps the dump it measured, and
    // the next call with a buffer hands that same dump over (if it fits and
    // is less than a second old), so a size query and the fill that follows
    // it see one and the same table. A call without buffer always dumps
    // afresh. On success `size` is left as given.
    uint32_t GetTcpTable(uint8_t* buffer, uint32_t& size, bool sorted) override;
    uint32_t GetUdpTable(uint8_t* buffer, uint32_t& size, bool sorted) override;

private:
    // One socket of a dump (see diag_reply.h).
    using TDumpedSocket = TDiagSocket;

    // The sockets of one protocol: the IPv4 tables' rows and the IPv6 ones.
    struct TDump {
        std::vector<TDumpedSocket> V4;
        std::vector<TDumpedSocket> V6;
    };

    // Which families a dump reads and which rows it keeps.
    enum class TDumpScope {
        Ipv4Tables,  // AF_INET and the mapped AF_INET6 sockets
        Ipv6Tables,  // the other AF_INET6 sockets
        Both,
    };

    struct TKeptDump {
        std::vector<TDumpedSocket> Sockets;
        std::chrono::steady_clock::time_point Taken;
        bool Valid = false;
    };

    struct TProtocolState {
        TKeptDump KeptPlain;  // measured by a plain size query
        TKeptDump KeptV6;     // the IPv6 half of the last extended IPv4 fetch
        // Row counts of the last dumps, to reserve room for the next ones.
        size_t LastV4Count = 0;
        size_t LastV6Count = 0;
    };

    TProtocolState& StateOf(uint8_t protocol);
    int Dump(uint8_t protocol, TDumpScope scope, TDump& dump);
    int DumpFamily(uint8_t protocol, uint8_t family, bool keepV6, TDump& dump);
    uint32_t GetEx6Table(uint8_t protocol, std::vector<uint8_t>& table);
    uint32_t GetPlainTable(uint8_t protocol, uint8_t* buffer, uint32_t& size, bool sorted);

    TProcSocketOwnerSource ProcOwners_;
    TSocketOwnerSource* Owners_ = &ProcOwners_;
    std::mutex Mutex_;
    TProtocolState Tcp_;
    TProtocolState Udp_;
    // The owners read by the last extended TCP fetch, which the UDP fetch of
    // the same refresh reuses, and the inodes the last UDP dump held: only a
    // socket newer than that scan can be missing from it for want of a rescan.
    std::optional<TSocketOwners> RecentOwners_;
    std::chrono::steady_clock::time_point RecentOwnersTaken_;
    std::vector<uint64_t> PreviousUdpInodes_;
    bool ReadTraffic_ = true;
    // The counters of the last extended TCP fetch's rows (see TakeTcpTraffic).
    std::vector<TSocketTraffic> Traffic4_;
    std::vector<TSocketTraffic> Traffic6_;
    std::vector<TSocketIdentity> Identities4_;
    std::vector<TSocketIdentity> Identities6_;
};

}  // namespace tarnwick

// The IPv4 TCP and UDP tables of a Linux system.
//
// Sockets come from sock_diag dumps (NETLINK_SOCK_DIAG, an inet_diag_req_v2 for
// AF_INET with every state), owners from the /proc descriptor links (see
// socket_owners.h). Both paths are always available; the owning pid is 0 for a
// socket whose process cannot be seen (another user's, without privileges) and
// for sockets no process holds (TIME_WAIT, half-open connections).
//
// Tables hold every IPv4 socket the kernel knows for the protocol: for TCP the
// listeners, connections in every state and sockets merely bound (those read
// Closed); for UDP every bound or connected socket, by its local end.
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

// A TCP state of include/net/tcp_states.h as the table's state number
// (1 Closed .. 12 Delete_Tcb). Numbers the kernel does not define read Closed.
uint32_t TableStateFromLinux(uint8_t linuxState);

// Why the tables cannot be read on this system (no netlink socket diagnostics:
// the system's reason), or nullopt when they can.
std::optional<std::string> SockDiagUnavailableReason();

class TLinuxIpTables final : public TIpTables {
public:
    bool ExTablesAvailable() const override { return true; }

    // Each call dumps afresh and rows are sorted. The TCP call reads the
    // owners from /proc; the UDP call reuses that reading when it is recent
    // (the two calls of one refresh) and holds every socket it needs, and
    // reads /proc again otherwise. Errors are the errno of the failing
    // netlink operation.
    uint32_t GetTcpExTable(std::vector<uint8_t>& table) override;
    uint32_t GetUdpExTable(std::vector<uint8_t>& table) override;

    // A call that answers kInsufficientBuffer keeps the dump it measured, and
    // the next call with a buffer hands that same dump over (if it fits and
    // is less than a second old), so a size query and the fill that follows
    // it see one and the same table. A call without buffer always dumps
    // afresh. On success `size` is left as given.
    uint32_t GetTcpTable(uint8_t* buffer, uint32_t& size, bool sorted) override;
    uint32_t GetUdpTable(uint8_t* buffer, uint32_t& size, bool sorted) override;

private:
    // One socket of a dump. The row's fields are in the table's encoding;
    // the keys are the local and remote ends as host-order (addr << 16 | port),
    // which is the order rows are sorted in.
    struct TDumpedSocket {
        TTcpRow Row;
        uint64_t Inode = 0;
        uint64_t LocalKey = 0;
        uint64_t RemoteKey = 0;
    };

    struct TKeptDump {
        std::vector<TDumpedSocket> Sockets;
        std::chrono::steady_clock::time_point Taken;
        bool Valid = false;
    };

    int Dump(uint8_t protocol, std::vector<TDumpedSocket>& sockets);
    uint32_t GetPlainTable(uint8_t protocol, uint8_t* buffer, uint32_t& size, bool sorted);

    std::mutex Mutex_;
    TKeptDump KeptTcp_;
    TKeptDump KeptUdp_;
    // Row counts of the last dumps, to reserve room for the next ones.
    size_t LastTcpCount_ = 0;
    size_t LastUdpCount_ = 0;
    // The owners read by the last extended TCP fetch, which the UDP fetch of
    // the same refresh reuses, and the inodes the last UDP dump held: only a
    // socket newer than that scan can be missing from it for want of a rescan.
    std::optional<TSocketOwners> RecentOwners_;
    std::chrono::steady_clock::time_point RecentOwnersTaken_;
    std::vector<uint64_t> PreviousUdpInodes_;
};

}  // namespace tarnwick

// The TCP and UDP tables of the last refresh, read by row index until the next
// refresh replaces them.
//
// A refresh on a worker fetches while window commands may read rows, so the
// tables are guarded: a fetch talks to the system unlocked and only swaps the
// new tables in under the lock. (Which row a grid row names still changes
// with each refresh; readers map rows anew each time.)
#pragma once

#include <cstdint>
#include <optional>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "monitor/connection_key.h"
#include "monitor/process_names.h"
#include "platform/ip_tables.h"
#include "platform/process_list.h"

namespace tarnwick {

class ConnectionSnapshot {
public:
    // `exTablesAvailable` selects the layout of both tables for the program's
    // life: rows with the owning process id, or plain rows without.
    explicit ConnectionSnapshot(bool exTablesAvailable);

    bool ExTablesAvailable() const { return ExTablesAvailable_; }

    // Whether fetches read the IPv6 tables too (extended path only; on by
    // default). Off, only IPv4 sockets and IPv4-mapped IPv6 ones are listed.
    void SetIncludeIpv6(bool include) { IncludeIpv6_ = include; }

    // Replaces the tables with fresh ones and leaves each fetch's result code.
    // On the extended path it also takes the process list of this refresh.
    // Returns false when the refresh must end at once: on the plain path, a size
    // query that is not answered with kInsufficientBuffer (the tables that
    // were not yet replaced stay as they are).
    bool FetchTables(TIpTables& tables, TProcessList& processes);

    uint32_t TcpResult() const;
    uint32_t UdpResult() const;

    // Rows of a table whose fetch failed count as none. The TCP rows are the
    // IPv4 table's, then the IPv6 table's (likewise for UDP); an IPv6 table
    // that could not be read counts as empty.
    uint32_t TcpRowCount() const;
    uint32_t UdpRowCount() const;
    // How many of those come from the IPv6 tables (the last ones).
    uint32_t Tcp6RowCount() const;
    uint32_t Udp6RowCount() const;

    // Row `index` (from 0) in the layout of ExTablesAvailable; OwningPid is 0 on
    // the plain path, Cookie and Inode are 0 where the source gave none. An
    // index beyond the rows gives a row of zeros.
    TTcpRow TcpRow(size_t index) const;
    TUdpRow UdpRow(size_t index) const;

    // The entry `key` names, read under one lock so a refresh swapping the
    // tables meanwhile cannot split the search. For TCP with no local address
    // in the key (LocalAddr unset, or AnyLocal6 for an IPv6 key), an
    // established entry comes before others with the same ends
    // (entries that differ only in their local address are one connection to
    // the user). nullopt when no current entry matches.
    std::optional<TFoundConnection> FindConnection(const TConnectionKey& key) const;

    // The byte counters of TCP row `index` (same numbering as TcpRow); unknown
    // where the tables carry none for it.
    TSocketTraffic TcpTraffic(size_t index) const;
    // Whether the last fetch read the TCP tables with counters for every row.
    bool TcpTrafficRead() const;

    // Rewrites the remote port field of TCP row `index` (listeners get 0 there).
    void SetTcpRemotePort(size_t index, uint32_t portField);

    // The process list of the running refresh, or null on the plain path and
    // once it has been closed. Only the refresh itself uses it.
    const TProcessSnapshot* Processes() const { return Processes_ ? &*Processes_ : nullptr; }
    void CloseProcessSnapshot() { Processes_.reset(); }

private:
    bool FetchExTables(TIpTables& tables, TProcessList& processes);
    bool FetchPlainTables(TIpTables& tables);
    uint32_t TcpRowCountLocked() const;
    uint32_t UdpRowCountLocked() const;
    uint32_t Tcp4RowCountLocked() const;
    uint32_t Udp4RowCountLocked() const;
    TTcpRow TcpRowLocked(size_t index) const;
    TUdpRow UdpRowLocked(size_t index) const;
    size_t TcpRowSize() const { return ExTablesAvailable_ ? kTcpRowExSize : kTcpRowSize; }
    size_t UdpRowSize() const { return ExTablesAvailable_ ? kUdpRowExSize : kUdpRowSize; }

    const bool ExTablesAvailable_;
    mutable std::shared_mutex Mutex_;  // guards the tables and results
    std::vector<uint8_t> TcpTable_;
    std::vector<uint8_t> UdpTable_;
    std::vector<uint8_t> Tcp6Table_;  // empty when unread or unreadable
    std::vector<uint8_t> Udp6Table_;
    // One entry per TCP row, or empty when the source gave none that fit.
    std::vector<TSocketTraffic> TcpTraffic_;
    std::vector<TSocketIdentity> TcpIdentities_;  // likewise
    bool IncludeIpv6_ = true;
    uint32_t TcpResult_ = 0;
    uint32_t UdpResult_ = 0;
    std::optional<TProcessSnapshot> Processes_;
};

}  // namespace tarnwick

// The TCP and UDP tables of the last refresh, read by row index until the next
// refresh replaces them.
//
// A refresh on a worker fetches while window commands may read rows. Each
// fetch's tables are made whole before they are taken in and never change
// after: readers hold on to the tables they got (Tables()) while the next
// fetch takes its own in. (Which row a grid row names still changes with
// each refresh; readers map rows anew each time.)
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "monitor/connection_key.h"
#include "monitor/process_names.h"
#include "platform/ip_tables.h"
#include "platform/process_list.h"

namespace tarnwick {

// The tables of one fetch. A table whose fetch failed has no rows and its
// failure instead.
struct TFetchedTables {
    TTcpTable Tcp;
    TUdpTable Udp;
    std::optional<TFailure> TcpFailure;
    std::optional<TFailure> UdpFailure;
};

class ConnectionSnapshot {
public:
    // Whether fetches read the IPv6 tables too (on by default). Off, only
    // IPv4 sockets and IPv4-mapped IPv6 ones are listed.
    void SetIncludeIpv6(bool include) { IncludeIpv6_ = include; }
    // Whether fetches read the TCP sockets' byte counters (on by default).
    void SetReadTraffic(bool read) { ReadTraffic_ = read; }

    // Replaces the tables with fresh ones, and takes the process list of this
    // refresh. A row whose remote address is unspecified (a listener) has
    // remote port 0, whatever the source said.
    void FetchTables(TIpTables& tables, TProcessList& processes);

    // The tables of the last fetch (empty ones before the first), which no
    // later fetch changes.
    std::shared_ptr<const TFetchedTables> Tables() const;

    std::optional<TFailure> TcpFailure() const { return Tables()->TcpFailure; }
    std::optional<TFailure> UdpFailure() const { return Tables()->UdpFailure; }

    // The TCP rows are the IPv4 table's, then the IPv6 table's (likewise for
    // UDP); a table whose fetch failed has none.
    uint32_t TcpRowCount() const;
    uint32_t UdpRowCount() const;
    // How many of those come from the IPv6 tables (the last ones).
    uint32_t Tcp6RowCount() const;
    uint32_t Udp6RowCount() const;

    // Row `index` (from 0); an index beyond the rows gives an empty row.
    TTcpRow TcpRow(size_t index) const;
    TUdpRow UdpRow(size_t index) const;

    // The entry `key` names, in one fetch's tables. For TCP with no local
    // address in the key, an established entry comes before others with the
    // same ends (entries that differ only in their local address are one
    // connection to the user). nullopt when no current entry matches.
    std::optional<TFoundConnection> FindConnection(const TConnectionKey& key) const;

    // Whether the last fetch read the TCP tables with their byte counters.
    bool TcpTrafficRead() const;

    // The process list of the running refresh, or null once it has been
    // closed. Only the refresh itself uses it.
    const TProcessSnapshot* Processes() const { return Processes_ ? &*Processes_ : nullptr; }
    void CloseProcessSnapshot() { Processes_.reset(); }

private:
    mutable std::mutex Mutex_;  // guards Tables_, the pointer
    std::shared_ptr<const TFetchedTables> Tables_ = std::make_shared<const TFetchedTables>();
    bool IncludeIpv6_ = true;
    bool ReadTraffic_ = true;
    std::optional<TProcessSnapshot> Processes_;
};

}  // namespace tarnwick

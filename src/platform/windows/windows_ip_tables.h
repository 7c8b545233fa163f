// The TCP and UDP tables of a Windows system, IPv4 and IPv6, from the IP
// helper's GetExtendedTcpTable and GetExtendedUdpTable with the owning
// process of each socket (TCP_TABLE_OWNER_PID_ALL, UDP_TABLE_OWNER_PID).
//
// An IPv6 socket whose ends are IPv4-mapped (or whose remote end is
// unspecified) is listed among the IPv4 rows with its IPv4 addresses, as
// ip_tables.h asks. Windows keeps no socket cookies, inodes or byte counters
// in these tables: those fields stay 0 and TrafficRead false. Windows tells
// of no connection that ended between two refreshes either: a connection
// shorter than a refresh is not seen at all.
//
// Fetching is serialised by an internal lock, so one object may be shared.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/ip_tables.h"

namespace tarnwick {

// Whether the tables can be read on this system: a failure when the IP
// helper's table calls fail.
TStatus IpHelperAvailable();

class TWindowsIpTables final : public TIpTables {
public:
    TResult<TTcpTable> FetchTcp(const TTableRequest& request) override;
    TResult<TUdpTable> FetchUdp(const TTableRequest& request) override;

private:
    std::mutex Mutex_;
    // The tables' memory, kept from one fetch to the next: the size the
    // system asked for last is usually enough. Each call that is too small
    // costs a whole reading of the table (Wine builds it anew for each call,
    // some milliseconds per hundred sockets), so the first fetch starts with
    // room for thousands of rows.
    std::vector<uint64_t> Buffer_ = std::vector<uint64_t>((256u << 10) / sizeof(uint64_t));
};

}  // namespace tarnwick

// The six display texts of one row of the connection grid, in column order,
// and the identity of the entry they show.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "monitor/connection_key.h"
#include "monitor/connection_snapshot.h"
#include "monitor/endpoint_texts.h"
#include "monitor/traffic_rates.h"

namespace tarnwick {

inline constexpr int kGridColumnCount = 6;
inline constexpr std::array<std::string_view, kGridColumnCount> kGridHeaders{
    "Remote Addr", "Remote Port", "Local Port", "Protocol", "Status", "Process"};

struct TConnectionRow {
    std::string RemoteAddr;
    std::string RemotePort;
    std::string LocalPort;
    std::string Protocol;
    std::string Status;
    std::string Process;
    // The entry shown; nullopt for the titles and the blank row of an empty grid.
    std::optional<TConnectionKey> Key = std::nullopt;
    // Its byte counters and rates, kept as numbers (the grid writes them only
    // while traffic is shown); nullopt where none are known, as for UDP.
    std::optional<TConnectionTraffic> Traffic = std::nullopt;

    // Column `column` (0..5) in grid order.
    const std::string& Cell(int column) const;
    bool operator==(const TConnectionRow&) const = default;
};

// The protocol column: IPv4 rows (and IPv4-mapped IPv6 ones) and IPv6 rows.
inline constexpr const char* kRowProtocolTcp = "TCP";
inline constexpr const char* kRowProtocolUdp = "UDP";
inline constexpr const char* kRowProtocolTcp6 = "TCPv6";
inline constexpr const char* kRowProtocolUdp6 = "UDPv6";

// The numeric text of a row's remote address: dotted for IPv4 rows, the
// RFC 5952 form for IPv6 ones, with the zone of a link-local one. Rule
// checks and the connection list use it.
std::string RemoteAddrNumericText(const TTcpRow& row, TEndpointTexts& endpoints);

// Display texts of TCP row `index` of `snapshot`. A row whose remote address
// is 0 gets remote port 0 in the snapshot first, so readers after the refresh
// see 0 there too.
TConnectionRow BuildTcpRowTexts(ConnectionSnapshot& snapshot, size_t index, TEndpointTexts& endpoints);

// The process column's text for owner `pid`: empty on the plain path, "?"
// when the refresh's process list is gone.
std::string RowProcessText(const ConnectionSnapshot& snapshot, uint32_t pid);

// Display texts of UDP row `index`: remote end "*", status "-".
TConnectionRow BuildUdpRowTexts(const ConnectionSnapshot& snapshot, size_t index, TEndpointTexts& endpoints);

}  // namespace tarnwick

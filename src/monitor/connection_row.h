// The six display texts of one row of the connection grid, in column order,
// and the identity of the entry they show.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "monitor/connection_key.h"
#include "monitor/process_names.h"
#include "monitor/endpoint_texts.h"
#include "monitor/traffic_rates.h"
#include "platform/location_lookup.h"

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
    // The state that Status names; nullopt for UDP entries and the rows
    // without an entry.
    std::optional<TTcpState> State = std::nullopt;
    // Where the remote address is, while locations are shown (the one copy
    // of it, see InternLocation); null where nothing is known. Its cells are
    // in location_texts.h.
    const TLocation* Location = nullptr;

    // Column `column` (0..5) in grid order.
    const std::string& Cell(int column) const;
    bool operator==(const TConnectionRow&) const = default;
};

// The protocol column: IPv4 rows (and IPv4-mapped IPv6 ones) and IPv6 rows.
inline constexpr const char* kRowProtocolTcp = "TCP";
inline constexpr const char* kRowProtocolUdp = "UDP";
inline constexpr const char* kRowProtocolTcp6 = "TCPv6";
inline constexpr const char* kRowProtocolUdp6 = "UDPv6";

// The numeric text of an address of a row: dotted for IPv4, the RFC 5952
// form for IPv6, with the zone of `interface` for a link-local one. Rule
// checks and the connection list use it.
std::string AddressNumericText(const TInetAddress& address, uint32_t interface, TEndpointTexts& endpoints);

// Display texts of TCP row `row`, its process named from `processes` ("?"
// when the refresh's process list is gone).
TConnectionRow BuildTcpRowTexts(const TTcpRow& row, const TProcessSnapshot* processes, TEndpointTexts& endpoints);

// The process column's text for owner `pid`.
std::string RowProcessText(const TProcessSnapshot* processes, uint32_t pid);

// Display texts of UDP row `row`: remote end "*", status "-".
TConnectionRow BuildUdpRowTexts(const TUdpRow& row, const TProcessSnapshot* processes, TEndpointTexts& endpoints);

}  // namespace tarnwick

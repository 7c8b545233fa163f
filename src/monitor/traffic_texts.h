// Texts of traffic: sizes and rates in human units, one formatter for the
// grid, the reports and the traffic window; and the grid's traffic columns.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "monitor/traffic_rates.h"

namespace tarnwick {

// "0 B", "999 B", "1.2 KB", "34 KB", "1.2 MB", "567 GB", ... in units of 1024
// bytes: one decimal below 10 of a unit, whole numbers above.
std::string ByteSizeText(uint64_t bytes);
// The same for a rate: "34 KB/s". Negative or not-a-number rates read "0 B/s".
std::string ByteRateText(double bytesPerSecond);

// The columns the grid adds after Process while traffic is shown.
inline constexpr int kTrafficColumnCount = 4;
inline constexpr std::array<std::string_view, kTrafficColumnCount> kTrafficHeaders{"Sent", "Received", "Send Rate",
                                                                                    "Receive Rate"};

// How the traffic cells write their numbers: in human units, or as whole
// bytes and bytes a second for scripts.
enum class TTrafficNumbers { Human, Raw };

// Traffic column `column` (0..3) of a row: "-" where the value is unknown
// (UDP sockets, which have no byte counters, sockets without counters, and
// rates before a second reading).
std::string TrafficCellText(const std::optional<TConnectionTraffic>& traffic, int column, TTrafficNumbers numbers);

}  // namespace tarnwick

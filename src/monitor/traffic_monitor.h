// Who is using the network: per refresh, the traffic of every TCP connection
// (see traffic_rates.h), the programs ranked by their current rate, and the
// total rates of the last ten minutes. Computed where the refresh runs (a
// worker), once per refresh; windows and the command line only read the
// results, which are immutable once published.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "monitor/traffic_rates.h"

namespace tarnwick {

// One program's share: its TCP connections with known counters, the sum of
// their rates (those with a rate) and of their counters.
struct TProgramTraffic {
    std::string Name;  // the process column's text
    uint32_t Connections = 0;
    double SendRate = 0;
    double ReceiveRate = 0;
    uint64_t BytesSent = 0;
    uint64_t BytesReceived = 0;
    bool operator==(const TProgramTraffic&) const = default;
};

// The traffic of one refresh.
struct TTrafficSummary {
    std::chrono::steady_clock::time_point At{};  // when its counters were read
    // Whether the rates compare with a reading before (false in the first refresh).
    bool RatesKnown = false;
    double SendRate = 0;
    double ReceiveRate = 0;
    // Highest current rate (send plus receive) first, then most bytes, then by name.
    std::vector<TProgramTraffic> Programs;
};

// One point of the chart: the total rates of a refresh and the rates of each
// program that had any.
struct TTrafficPoint {
    std::chrono::steady_clock::time_point At{};
    double SendRate = 0;
    double ReceiveRate = 0;
    struct TShare {
        std::string Name;
        double SendRate = 0;
        double ReceiveRate = 0;
    };
    std::vector<TShare> Shares;
    // The rates of program `name` in this point (zero when it had none).
    TShare ShareOf(std::string_view name) const;
};

class TTrafficMonitor {
public:
    using TClock = TTrafficRates::TClock;
    // How far back the chart reaches.
    static constexpr std::chrono::minutes kHistorySpan{10};

    explicit TTrafficMonitor(std::function<TClock::time_point()> clock = TClock::now);

    // The refresh's steps, on the thread that runs it: begin, one call per TCP
    // connection with known counters (its program named as the grid names
    // it), end. `complete` as TTrafficRates::EndRefresh says.
    void BeginRefresh();
    TConnectionTraffic AddConnection(const TConnectionKey& key, std::string_view program,
                                     const TSocketTraffic& counters);
    void EndRefresh(bool complete);

    // The last counters of a connection of this refresh or just gone (refresh thread only).
    std::optional<TSocketTraffic> LastCounters(const TConnectionKey& key) const { return Rates_.LastCounters(key); }

    // Any thread: the summary of the last refresh (null before the first
    // one), and the chart's points, oldest first.
    std::shared_ptr<const TTrafficSummary> Latest() const;
    std::vector<std::shared_ptr<const TTrafficPoint>> History() const;

private:
    TTrafficRates Rates_;
    // The refresh being summed up (refresh thread only).
    // Looked up by the row's process text as it is, without a copy per row.
    struct TNameHash {
        using is_transparent = void;
        size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };
    std::unordered_map<std::string, TProgramTraffic, TNameHash, std::equal_to<>> Programs_;
    // The program of the last connection added: a program's connections
    // mostly follow each other in the tables.
    TProgramTraffic* LastProgram_ = nullptr;
    bool RatesKnown_ = false;

    mutable std::mutex Mutex_;  // guards what other threads read
    std::shared_ptr<const TTrafficSummary> Latest_;
    std::deque<std::shared_ptr<const TTrafficPoint>> History_;
};

}  // namespace tarnwick

// The traffic of each TCP connection: its byte counters as the last refresh
// read them, and how fast they grew since the refresh before. A connection is
// followed by its identity (TConnectionKey), not its row, since rows move
// between refreshes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>

#include "monitor/connection_key.h"
#include "platform/ip_tables.h"

namespace tarnwick {

struct TConnectionTraffic {
    uint64_t BytesSent = 0;
    uint64_t BytesReceived = 0;
    // Bytes a second since the refresh before; nullopt in the first refresh,
    // which has nothing to compare with.
    std::optional<double> SendRate;
    std::optional<double> ReceiveRate;
    bool operator==(const TConnectionTraffic&) const = default;
};

class TTrafficRates {
public:
    using TClock = std::chrono::steady_clock;

    // `clock` gives the time of each refresh's reading (tests pass their own).
    explicit TTrafficRates(std::function<TClock::time_point()> clock = TClock::now);

    // Starts a refresh: its counters are taken as read now.
    void BeginRefresh();

    // The traffic of connection `key`, whose counters this refresh read as
    // `counters` (Known). A connection seen before gets the growth of its
    // counters over the time since. One that is new since a complete refresh
    // transferred all its bytes after that one; without a complete refresh
    // before, its rates are unknown (it may be older than it looks). Counters
    // lower than the last ones belong to a new socket with the same ends.
    TConnectionTraffic Update(const TConnectionKey& key, const TSocketTraffic& counters);

    // Ends a refresh. `complete`: it read the counters of every TCP
    // connection; then those it did not update are gone, and only their last
    // counters are kept, for LastCounters, until the next refresh ends. An
    // incomplete refresh (a table that could not be read) forgets nothing.
    void EndRefresh(bool complete);

    // The last counters of a connection updated in this refresh, or of one
    // that the last EndRefresh found gone (for the events of its going).
    std::optional<TSocketTraffic> LastCounters(const TConnectionKey& key) const;

    // Whether a complete refresh came before the running one, so that every
    // connection of this one gets its rates.
    bool RatesKnown() const { return LastComplete_.has_value(); }

    size_t Count() const { return Current_.size(); }

private:
    struct TEntry {
        uint64_t Sent = 0;
        uint64_t Received = 0;
        uint64_t Refresh = 0;  // the refresh that read these counters
        TClock::time_point At{};
    };

    std::function<TClock::time_point()> Clock_;
    std::unordered_map<TConnectionKey, TEntry, TConnectionKeyHash> Current_;
    std::unordered_map<TConnectionKey, TEntry, TConnectionKeyHash> Gone_;
    uint64_t Refresh_ = 0;
    TClock::time_point Now_{};
    std::optional<TClock::time_point> LastComplete_;  // the reading of the last refresh, when complete
};

}  // namespace tarnwick

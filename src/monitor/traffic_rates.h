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
#include <utility>
#include <vector>

#include "monitor/connection_key.h"
#include "monitor/position_index.h"
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

    // `clock` gives the time a refresh begins, which stands for the reading
    // time of counters that do not carry their own (tests pass their own).
    explicit TTrafficRates(std::function<TClock::time_point()> clock = TClock::now);

    void BeginRefresh();

    // The traffic of connection `key`, whose counters this refresh read as
    // `counters` (Known), at their ReadAt. Rates compare with the refresh
    // directly before, and only when that one was complete: the same socket
    // seen then gets the growth of its counters over the time between the two
    // readings; a socket new since then (also one with the ends of the socket
    // before it: another cookie, or counters that went down) transferred all
    // its bytes after that reading. After an incomplete refresh, or none, no
    // connection gets a rate: an older reading would spread the bytes over
    // the time nobody looked, and a connection not seen may be older than
    // it looks.
    TConnectionTraffic Update(const TConnectionKey& key, const TSocketTraffic& counters);

    // Ends a refresh. `complete`: it read the counters of every TCP
    // connection; then those it did not update are gone, and only their last
    // counters are kept, for LastCounters, until the next refresh ends. An
    // incomplete refresh (a table that could not be read, or read without
    // counters) forgets nothing.
    void EndRefresh(bool complete);

    // The last counters of a connection updated in this refresh, or of one
    // that the last EndRefresh found gone (for the events of its going).
    std::optional<TSocketTraffic> LastCounters(const TConnectionKey& key) const;

    // Whether a complete refresh came directly before the running one, so
    // that every connection of this one gets its rates.
    bool RatesKnown() const { return LastComplete_.has_value(); }

    // When the running refresh read its counters: the latest reading of those
    // it updated, or the time it began when it updated none.
    TClock::time_point ReadingTime() const { return Reading_.value_or(Began_); }

    size_t Count() const { return Current_.Entries.size(); }

private:
    struct TEntry {
        TConnectionKey Key;
        uint64_t Sent = 0;
        uint64_t Received = 0;
        uint64_t Socket = 0;
        uint64_t Refresh = 0;  // the refresh that read these counters
        TClock::time_point At{};
    };

    // Entries side by side, found by their key through an index: a refresh
    // updates 100,000 of them and walks them all at its end. They stay in
    // the order they were first updated in, mostly the tables' own, so the
    // entry after the one last found is tried before the index.
    struct TEntries {
        std::vector<TEntry> Entries;
        TPositionIndex Index;
        size_t Next = 0;

        const TEntry* Find(const TConnectionKey& key) const;
        // The entry of `key`, made when there is none; whether it was.
        std::pair<TEntry*, bool> FindOrAdd(const TConnectionKey& key);
        // Indexes the entries afresh, after they were moved.
        void Reindex();
    };

    std::function<TClock::time_point()> Clock_;
    TEntries Current_;
    TEntries Gone_;
    uint64_t Refresh_ = 0;
    TClock::time_point Began_{};
    std::optional<TClock::time_point> Reading_;
    std::optional<TClock::time_point> LastComplete_;  // the reading of the refresh before, when complete
};

}  // namespace tarnwick

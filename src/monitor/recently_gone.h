// The connections whose "DisConnected" line was logged lately. A connection
// leaves the tables a moment before the system announces its end, so the
// announcement can come after the refresh that already said it was gone; this
// keeps such an end from being reported a second time, as a connection never
// listed. Bounded in time and in size: the oldest are forgotten first.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <unordered_map>
#include <utility>

#include "monitor/connection_key.h"

namespace tarnwick {

class TRecentlyGone {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr size_t kDefaultBound = 4096;
    static constexpr std::chrono::seconds kDefaultMemory{120};

    explicit TRecentlyGone(size_t bound = kDefaultBound, std::chrono::seconds memory = kDefaultMemory)
        : Bound_(bound), Memory_(memory) {}

    void Add(const TConnectionKey& key, TClock::time_point now);
    // Whether `key` went within the memory before `now` (and is still kept).
    bool Contains(const TConnectionKey& key, TClock::time_point now);

private:
    void Forget(TClock::time_point now);

    size_t Bound_;
    std::chrono::seconds Memory_;
    std::deque<std::pair<TClock::time_point, TConnectionKey>> Order_;  // oldest first
    std::unordered_map<TConnectionKey, TClock::time_point, TConnectionKeyHash> Latest_;
};

}  // namespace tarnwick

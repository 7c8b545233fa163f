#include "monitor/traffic_rates.h"

#include <string_view>

namespace tarnwick {

TTrafficRates::TTrafficRates(std::function<TClock::time_point()> clock) : Clock_(std::move(clock)) {}

void TTrafficRates::BeginRefresh() {
    ++Refresh_;
    Now_ = Clock_();
}

namespace {

std::optional<double> PerSecond(uint64_t bytes, TTrafficRates::TClock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    if (seconds <= 0) return std::nullopt;
    return static_cast<double>(bytes) / seconds;
}

}  // namespace

TConnectionTraffic TTrafficRates::Update(const TConnectionKey& key, const TSocketTraffic& counters) {
    TConnectionTraffic traffic{counters.BytesSent, counters.BytesReceived, std::nullopt, std::nullopt};
    auto [it, isNew] = Current_.try_emplace(key);
    TEntry& entry = it->second;
    // A second socket with the same ends in one refresh (listeners sharing a
    // port) has no history of its own to compare with.
    if (!isNew && entry.Refresh == Refresh_) return traffic;
    const bool grew = !isNew && counters.BytesSent >= entry.Sent && counters.BytesReceived >= entry.Received;
    if (grew) {
        traffic.SendRate = PerSecond(counters.BytesSent - entry.Sent, Now_ - entry.At);
        traffic.ReceiveRate = PerSecond(counters.BytesReceived - entry.Received, Now_ - entry.At);
    } else if (LastComplete_) {
        traffic.SendRate = PerSecond(counters.BytesSent, Now_ - *LastComplete_);
        traffic.ReceiveRate = PerSecond(counters.BytesReceived, Now_ - *LastComplete_);
    }
    entry = TEntry{counters.BytesSent, counters.BytesReceived, Refresh_, Now_};
    return traffic;
}

void TTrafficRates::EndRefresh(bool complete) {
    Gone_.clear();
    if (!complete) {
        LastComplete_.reset();
        return;
    }
    LastComplete_ = Now_;
    for (auto it = Current_.begin(); it != Current_.end();) {
        if (it->second.Refresh == Refresh_) {
            ++it;
        } else {
            Gone_.insert(Current_.extract(it++));
        }
    }
}

std::optional<TSocketTraffic> TTrafficRates::LastCounters(const TConnectionKey& key) const {
    for (const auto* map : {&Current_, &Gone_}) {
        if (const auto it = map->find(key); it != map->end())
            return TSocketTraffic{it->second.Sent, it->second.Received, true};
    }
    return std::nullopt;
}

}  // namespace tarnwick

#include "monitor/traffic_rates.h"

#include <algorithm>

namespace tarnwick {

TTrafficRates::TTrafficRates(std::function<TClock::time_point()> clock) : Clock_(std::move(clock)) {}

void TTrafficRates::BeginRefresh() {
    ++Refresh_;
    Began_ = Clock_();
    Reading_.reset();
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
    const TClock::time_point at = counters.ReadAt != TClock::time_point{} ? counters.ReadAt : Began_;
    Reading_ = std::max(Reading_.value_or(at), at);
    auto [it, isNew] = Current_.try_emplace(key);
    TEntry& entry = it->second;
    // A second socket with the same ends in one refresh (listeners sharing a
    // port) has no history of its own to compare with.
    if (!isNew && entry.Refresh == Refresh_) return traffic;
    const bool sameSocket = !isNew && entry.Socket == counters.Socket && counters.BytesSent >= entry.Sent &&
                            counters.BytesReceived >= entry.Received;
    if (LastComplete_) {
        // A complete refresh before leaves only the entries it updated.
        const uint64_t sentBefore = sameSocket ? entry.Sent : 0;
        const uint64_t receivedBefore = sameSocket ? entry.Received : 0;
        const TClock::time_point since = sameSocket ? entry.At : *LastComplete_;
        traffic.SendRate = PerSecond(counters.BytesSent - sentBefore, at - since);
        traffic.ReceiveRate = PerSecond(counters.BytesReceived - receivedBefore, at - since);
    }
    entry = TEntry{counters.BytesSent, counters.BytesReceived, counters.Socket, Refresh_, at};
    return traffic;
}

void TTrafficRates::EndRefresh(bool complete) {
    Gone_.clear();
    if (!complete) {
        LastComplete_.reset();
        return;
    }
    LastComplete_ = ReadingTime();
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
            return TSocketTraffic{it->second.Sent, it->second.Received, true, it->second.Socket, it->second.At};
    }
    return std::nullopt;
}

}  // namespace tarnwick

#include "monitor/traffic_rates.h"

#include <algorithm>

namespace tarnwick {

TTrafficRates::TTrafficRates(std::function<TClock::time_point()> clock) : Clock_(std::move(clock)) {}

void TTrafficRates::BeginRefresh() {
    ++Refresh_;
    Current_.Next = 0;
    Began_ = Clock_();
    Reading_.reset();
}

const TTrafficRates::TEntry* TTrafficRates::TEntries::Find(const TConnectionKey& key) const {
    const uint32_t position =
        Index.Find(TConnectionKeyHash{}(key), [&](uint32_t at) { return Entries[at].Key == key; });
    return position == TPositionIndex::kNone ? nullptr : &Entries[position];
}

std::pair<TTrafficRates::TEntry*, bool> TTrafficRates::TEntries::FindOrAdd(const TConnectionKey& key) {
    if (Next < Entries.size() && Entries[Next].Key == key) return {&Entries[Next++], false};
    const uint64_t hash = TConnectionKeyHash{}(key);
    const uint32_t position = Index.Find(hash, [&](uint32_t at) { return Entries[at].Key == key; });
    if (position != TPositionIndex::kNone) {
        Next = position + 1;
        return {&Entries[position], false};
    }
    if (!Index.HasRoomFor(Entries.size() + 1)) {
        Index.Rebuild(Entries.size(), Entries.size() + 1,
                      [this](uint32_t at) { return TConnectionKeyHash{}(Entries[at].Key); });
    }
    Entries.push_back(TEntry{key});
    Index.Add(hash, static_cast<uint32_t>(Entries.size() - 1));
    Next = Entries.size();
    return {&Entries.back(), true};
}

void TTrafficRates::TEntries::Reindex() {
    Index.Rebuild(Entries.size(), Entries.size(), [this](uint32_t at) { return TConnectionKeyHash{}(Entries[at].Key); });
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
    auto [found, isNew] = Current_.FindOrAdd(key);
    TEntry& entry = *found;
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
    entry = TEntry{key, counters.BytesSent, counters.BytesReceived, counters.Socket, Refresh_, at};
    return traffic;
}

void TTrafficRates::EndRefresh(bool complete) {
    Gone_.Entries.clear();
    if (!complete) {
        Gone_.Reindex();
        LastComplete_.reset();
        return;
    }
    LastComplete_ = ReadingTime();
    // The entries not updated now go, in one pass that keeps the others' order.
    std::vector<TEntry>& current = Current_.Entries;
    size_t kept = 0;
    for (size_t i = 0; i < current.size(); ++i) {
        if (current[i].Refresh != Refresh_)
            Gone_.Entries.push_back(current[i]);
        else if (kept++ != i)
            current[kept - 1] = current[i];
    }
    if (kept != current.size()) {
        current.resize(kept);
        Current_.Reindex();
    }
    Gone_.Reindex();
}

std::optional<TSocketTraffic> TTrafficRates::LastCounters(const TConnectionKey& key) const {
    for (const TEntries* entries : {&Current_, &Gone_}) {
        if (const TEntry* entry = entries->Find(key))
            return TSocketTraffic{entry->Sent, entry->Received, true, entry->Socket, entry->At};
    }
    return std::nullopt;
}

}  // namespace tarnwick

#include "monitor/location_cache.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <system_error>
#include <tuple>
#include <utility>

namespace tarnwick {

namespace {

constexpr size_t kInitialSlots = 1024;
// How many addresses of the last call on an address is looked for: rows that
// went since, between two that stayed.
constexpr size_t kLookAhead = 16;

size_t HashOf(const TInetAddress& address) {
    uint64_t words[2];
    std::memcpy(words, address.Bytes().data(), sizeof words);
    uint64_t hash = words[0] * 0x9E3779B97F4A7C15ull;
    hash ^= words[1] * 0xC2B2AE3D27D4EB4Full + (address.V6() ? 1 : 0);
    return static_cast<size_t>(hash ^ (hash >> 32));
}

struct TLocationOrder {
    bool operator()(const TLocation& a, const TLocation& b) const {
        return std::tie(a.CountryCode, a.Asn, a.CountryName, a.AsName) <
               std::tie(b.CountryCode, b.Asn, b.CountryName, b.AsName);
    }
};

// What the database said, as rows carry it: null for nothing.
const TLocation* Shared(const std::optional<TLocation>& location) {
    if (!location || (location->CountryCode.empty() && location->Asn == 0)) return nullptr;
    return InternLocation(*location);
}

}  // namespace

const TLocation* InternLocation(const TLocation& location) {
    static std::mutex mutex;
    // Never freed: rows, log entries and windows keep pointers into it to the end.
    static auto* known = new std::set<TLocation, TLocationOrder>;
    std::lock_guard lock(mutex);
    return &*known->insert(location).first;
}

TLocationCache::TLocationCache(TLocationOpener open, size_t capacity, std::chrono::milliseconds recheck)
    : Open_(std::move(open)), Capacity_(capacity), Recheck_(recheck), Slots_(kInitialSlots) {}

TLocationCache::~TLocationCache() {
    {
        std::lock_guard lock(Mutex_);
        Stopping_ = true;
    }
    Asked_.notify_all();
    if (Thread_.joinable()) Thread_.join();
}

size_t TLocationCache::SlotOf(const TInetAddress& address) const {
    const size_t mask = Slots_.size() - 1;
    for (size_t at = HashOf(address) & mask;; at = (at + 1) & mask) {
        const TSlot& slot = Slots_[at];
        if (slot.State == TState::Empty || slot.Address == address) return at;
    }
}

size_t TLocationCache::Insert(const TInetAddress& address) {
    // At most half full, so that a probe ends soon.
    if ((Used_ + 1) * 2 > Slots_.size()) Rebuild([](const TSlot&) { return true; });
    const size_t at = SlotOf(address);
    Slots_[at] = TSlot{address, TState::Asked, false, nullptr};
    ++Used_;
    return at;
}

template <typename TKeep>
void TLocationCache::Rebuild(TKeep keep) {
    std::vector<TSlot> old = std::move(Slots_);
    size_t kept = 0;
    for (const TSlot& slot : old) kept += slot.State != TState::Empty && keep(slot) ? 1 : 0;
    size_t size = kInitialSlots;
    while (size < (kept + 1) * 4) size *= 2;
    Slots_.assign(size, TSlot{});
    Used_ = 0;
    for (const TSlot& slot : old) {
        if (slot.State == TState::Empty || !keep(slot)) continue;
        TSlot& kept = Slots_[SlotOf(slot.Address)];
        kept = slot;
        kept.Keep = false;
        ++Used_;
    }
}

const TLocation* TLocationCache::LookUp(const TInetAddress& address, bool mayAsk, bool& settled) {
    const TInetAddress plain = UnmappedAddress(address);
    settled = !IsPublicAddress(plain);
    if (settled) return nullptr;
    size_t at = SlotOf(plain);
    if (Slots_[at].State == TState::Empty || Slots_[at].State == TState::Dropped) {
        if (!mayAsk) return nullptr;
        if (Slots_[at].State == TState::Empty) at = Insert(plain);
        Slots_[at].State = TState::Asked;
        Queue_.push_back(plain);
    }
    settled = Slots_[at].State == TState::Answered;
    return settled ? Slots_[at].Location : nullptr;
}

std::vector<const TLocation*> TLocationCache::LocateAll(const std::vector<TInetAddress>& addresses,
                                                        std::chrono::milliseconds wait) {
    std::vector<const TLocation*> found;
    LocateAll(addresses, wait, found);
    return found;
}

void TLocationCache::LocateAll(const std::vector<TInetAddress>& addresses, std::chrono::milliseconds wait,
                               std::vector<const TLocation*>& found) {
    found.assign(addresses.size(), nullptr);
    std::vector<size_t> waiting;
    std::unique_lock lock(Mutex_);
    std::vector<TAsked>& asked = ThisCall_;
    asked.clear();
    // A database that cannot be read is not asked again before its next try.
    const bool mayAsk = !Failure_ || TClock::now() >= NextTry_;
    size_t last = 0;  // where this call has got to in the last one
    for (size_t i = 0; i < addresses.size(); ++i) {
        const TInetAddress& address = addresses[i];
        const size_t end = std::min(LastCall_.size(), last + kLookAhead + 1);
        size_t at = last;
        while (at < end && !(LastCall_[at].Address == address)) ++at;
        if (at < end) {
            last = at + 1;
            if (LastCall_[at].Settled) {
                found[i] = LastCall_[at].Location;
                asked.push_back(LastCall_[at]);
                continue;
            }
        }
        bool settled = false;
        found[i] = LookUp(address, mayAsk, settled);
        if (!settled) waiting.push_back(i);
        asked.push_back(TAsked{address, settled, found[i]});
    }
    std::swap(LastCall_, ThisCall_);
    // The first call opens the database even without a question, so that
    // one that cannot be read is known at once.
    if (!Queue_.empty() || !Thread_.joinable()) {
        if (!Thread_.joinable()) {
            try {
                Thread_ = std::thread(&TLocationCache::Run, this);
            } catch (const std::system_error& error) {
                Failure_ = TFailure{error.code().value(), "starting the location look-ups"};
                NextTry_ = TClock::now() + Recheck_;
                for (const TInetAddress& address : Queue_) Slots_[SlotOf(address)].State = TState::Dropped;
                Queue_.clear();
                return;
            }
        }
        Asked_.notify_one();
    }
    if (wait <= std::chrono::milliseconds(0)) return;
    Answered_.wait_for(lock, wait, [&] {
        if (!Database_ && !Failure_) return false;  // not opened yet
        for (const size_t i : waiting)
            if (!Settled(addresses[i])) return false;
        return true;
    });
    for (const size_t i : waiting) {
        const TSlot& slot = Slots_[SlotOf(UnmappedAddress(addresses[i]))];
        if (slot.State != TState::Answered) continue;
        found[i] = slot.Location;
        if (i < LastCall_.size()) LastCall_[i] = TAsked{addresses[i], true, slot.Location};
    }
}

const TLocation* TLocationCache::Find(const TInetAddress& address) const {
    std::lock_guard lock(Mutex_);
    const TSlot& slot = Slots_[SlotOf(UnmappedAddress(address))];
    return slot.State == TState::Answered ? slot.Location : nullptr;
}

std::optional<TFailure> TLocationCache::DatabaseFailure() const {
    std::lock_guard lock(Mutex_);
    return Failure_;
}

std::optional<TLocationDatabase> TLocationCache::Database() const {
    std::lock_guard lock(Mutex_);
    return Database_;
}

bool TLocationCache::Settled(const TInetAddress& address) const {
    return Slots_[SlotOf(UnmappedAddress(address))].State != TState::Asked;
}

void TLocationCache::Run() {
    std::unique_lock lock(Mutex_);
    for (;;) {
        Asked_.wait(lock, [this] { return Stopping_ || !Queue_.empty() || !Tried_; });
        if (Stopping_) return;
        const std::vector<TInetAddress> batch = std::exchange(Queue_, {});
        lock.unlock();

        std::optional<TFailure> failure;
        bool otherDatabase = false;
        const auto now = TClock::now();
        if (!Tried_ || now - LastChecked_ >= Recheck_) {
            Tried_ = true;
            LastChecked_ = now;
            // A replacement that cannot be read (yet) leaves the old database answering.
            if (!Lookup_ || Lookup_->Replaced()) {
                TResult<std::unique_ptr<TLocationLookup>> opened = Open_();
                if (opened) {
                    otherDatabase = Lookup_ != nullptr;
                    Lookup_ = std::move(*opened);
                } else if (!Lookup_) {
                    failure = opened.Failure();
                }
            }
        }
        std::vector<const TLocation*> answers;
        if (Lookup_) {
            answers.reserve(batch.size());
            for (const TInetAddress& address : batch) answers.push_back(Shared(Lookup_->Locate(address)));
        }

        lock.lock();
        if (otherDatabase) {
            // Asked again when next wanted, of the new database.
            for (TSlot& slot : Slots_)
                if (slot.State == TState::Answered) slot.State = TState::Dropped;
            LastCall_.clear();
        }
        for (size_t i = 0; i < batch.size(); ++i) {
            TSlot& slot = Slots_[SlotOf(batch[i])];
            if (slot.State != TState::Asked) continue;
            slot.State = Lookup_ ? TState::Answered : TState::Dropped;
            slot.Location = Lookup_ ? answers[i] : nullptr;
        }
        if (Lookup_) {
            Failure_.reset();
            Database_ = Lookup_->Database();
        } else {
            Failure_ = failure;
            NextTry_ = LastChecked_ + Recheck_;
        }
        if (Used_ > Capacity_) {
            for (const TAsked& asked : LastCall_) {
                TSlot& slot = Slots_[SlotOf(UnmappedAddress(asked.Address))];
                if (slot.State != TState::Empty) slot.Keep = true;
            }
            Rebuild([](const TSlot& slot) { return slot.State == TState::Asked || slot.Keep; });
        }
        Answered_.notify_all();
    }
}

}  // namespace tarnwick

#include "monitor/location_cache.h"

#include <cstring>
#include <system_error>

namespace tarnwick {

size_t TLocationCache::TAddressHash::operator()(const TInetAddress& address) const {
    uint64_t words[2];
    std::memcpy(words, address.Bytes().data(), sizeof words);
    const uint64_t mixed = words[0] * 0x9E3779B97F4A7C15ull ^ (words[1] + (address.V6() ? 1 : 0)) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<size_t>(mixed ^ (mixed >> 29));
}

TLocationCache::TLocationCache(TLocationOpener open, size_t capacity, std::chrono::milliseconds recheck)
    : Open_(std::move(open)), Capacity_(capacity), Recheck_(recheck) {}

TLocationCache::~TLocationCache() {
    {
        std::lock_guard lock(Mutex_);
        Stopping_ = true;
    }
    Asked_.notify_all();
    if (Thread_.joinable()) Thread_.join();
}

std::vector<TLocationPtr> TLocationCache::LocateAll(const std::vector<TInetAddress>& addresses,
                                                    std::chrono::milliseconds wait) {
    std::vector<TLocationPtr> found(addresses.size());
    std::vector<size_t> waiting;
    std::unique_lock lock(Mutex_);
    const uint64_t call = ++Calls_;
    // A database that cannot be read is not asked again before its next try.
    const bool mayAsk = !Failure_ || TClock::now() >= NextTry_;
    for (size_t i = 0; i < addresses.size(); ++i) {
        const TInetAddress address = UnmappedAddress(addresses[i]);
        if (!IsPublicAddress(address)) continue;
        auto it = Entries_.find(address);
        if (it == Entries_.end()) {
            if (!mayAsk) continue;
            it = Entries_.emplace(address, TEntry{}).first;
            Queue_.push_back(address);
        }
        it->second.LastAsked = call;
        if (it->second.Answered) {
            found[i] = it->second.Location;
        } else {
            waiting.push_back(i);
        }
    }
    // The first call opens the database even without a question, so that
    // one that cannot be read is known at once.
    if (!Queue_.empty() || !Thread_.joinable()) {
        if (!Thread_.joinable()) {
            try {
                Thread_ = std::thread(&TLocationCache::Run, this);
            } catch (const std::system_error& error) {
                Failure_ = TFailure{error.code().value(), "starting the location look-ups"};
                NextTry_ = TClock::now() + Recheck_;
                for (const TInetAddress& address : Queue_) Entries_.erase(address);
                Queue_.clear();
                return found;
            }
        }
        Asked_.notify_one();
    }
    if (wait <= std::chrono::milliseconds(0)) return found;
    Answered_.wait_for(lock, wait, [&] {
        if (!Database_ && !Failure_) return false;  // not opened yet
        for (const size_t i : waiting)
            if (!Answered(addresses[i])) return false;
        return true;
    });
    for (const size_t i : waiting) {
        const auto it = Entries_.find(UnmappedAddress(addresses[i]));
        if (it != Entries_.end() && it->second.Answered) found[i] = it->second.Location;
    }
    return found;
}

TLocationPtr TLocationCache::Find(const TInetAddress& address) const {
    std::lock_guard lock(Mutex_);
    const auto it = Entries_.find(UnmappedAddress(address));
    return it != Entries_.end() && it->second.Answered ? it->second.Location : nullptr;
}

std::optional<TFailure> TLocationCache::DatabaseFailure() const {
    std::lock_guard lock(Mutex_);
    return Failure_;
}

std::optional<TLocationDatabase> TLocationCache::Database() const {
    std::lock_guard lock(Mutex_);
    return Database_;
}

bool TLocationCache::Answered(const TInetAddress& address) const {
    // An address whose question was dropped (the database failed) is answered too: nothing will come.
    const auto it = Entries_.find(UnmappedAddress(address));
    return it == Entries_.end() || it->second.Answered;
}

void TLocationCache::Forget() {
    std::erase_if(Entries_, [](const auto& entry) { return entry.second.Answered; });
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
                    Known_.clear();
                } else if (!Lookup_) {
                    failure = opened.Failure();
                }
            }
        }
        std::vector<TLocationPtr> answers;
        if (Lookup_) {
            answers.reserve(batch.size());
            for (const TInetAddress& address : batch) answers.push_back(Shared(Lookup_->Locate(address)));
        }

        lock.lock();
        if (otherDatabase) Forget();
        if (!Lookup_) {
            Failure_ = failure;
            NextTry_ = LastChecked_ + Recheck_;
            for (const TInetAddress& address : batch) Entries_.erase(address);
        } else {
            Failure_.reset();
            Database_ = Lookup_->Database();
            for (size_t i = 0; i < batch.size(); ++i) {
                const auto it = Entries_.find(batch[i]);
                if (it == Entries_.end()) continue;
                it->second.Location = std::move(answers[i]);
                it->second.Answered = true;
            }
        }
        if (Entries_.size() > Capacity_) {
            std::erase_if(Entries_, [this](const auto& entry) {
                return entry.second.Answered && entry.second.LastAsked != Calls_;
            });
        }
        Answered_.notify_all();
    }
}

TLocationPtr TLocationCache::Shared(std::optional<TLocation> location) {
    if (!location || (location->CountryCode.empty() && location->Asn == 0)) return nullptr;
    TLocationPtr& shared = Known_[{location->CountryCode, location->Asn}];
    if (!shared) shared = std::make_shared<const TLocation>(std::move(*location));
    return shared;
}

}  // namespace tarnwick

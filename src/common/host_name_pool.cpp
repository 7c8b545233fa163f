#include "common/host_name_pool.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace tarnwick {

using Clock = std::chrono::steady_clock;

namespace {

// The pool keeps IPv4 addresses as their IPv4-mapped IPv6 addresses
// (::ffff:a.b.c.d), so both families share one queue, one cache and one set
// of workers. A mapped address is looked up as the IPv4 address it maps,
// which is also what the system resolver does with it.
TIp6Address KeyOf(uint32_t addr) {
    TIp6Address key{};
    key[10] = 0xFF;
    key[11] = 0xFF;
    key[12] = static_cast<uint8_t>(addr);
    key[13] = static_cast<uint8_t>(addr >> 8);
    key[14] = static_cast<uint8_t>(addr >> 16);
    key[15] = static_cast<uint8_t>(addr >> 24);
    return key;
}

// 0.0.0.0 and :: name no host and are never looked up.
bool IsUnspecified(const TIp6Address& key) {
    return key == TIp6Address{} || key == KeyOf(0);
}

struct TKeyHash {
    size_t operator()(const TIp6Address& key) const noexcept {
        uint64_t high = 0;
        uint64_t low = 0;
        std::memcpy(&high, key.data(), sizeof high);
        std::memcpy(&low, key.data() + sizeof high, sizeof low);
        return std::hash<uint64_t>{}(high ^ (low * 0x9E3779B97F4A7C15ull));
    }
};

}  // namespace

// The queue of addresses to look up, the workers taking from it and the
// answers they leave. Everything below is guarded by Mutex_.
class THostNamePool : public std::enable_shared_from_this<THostNamePool> {
public:
    THostNamePool(THostResolver resolver, THost6Resolver resolver6, std::chrono::milliseconds nameTtl,
                  std::chrono::milliseconds failureTtl, size_t maxWorkers)
        : Resolver_(std::move(resolver)),
          Resolver6_(std::move(resolver6)),
          NameTtl_(nameTtl),
          FailureTtl_(failureTtl),
          MaxWorkers_(std::max<size_t>(maxWorkers, 1)) {}

    void Resolve(const std::vector<TIp6Address>& addrs, std::chrono::milliseconds budget) {
        const auto start = Clock::now();
        const auto deadline = start + std::max(budget, std::chrono::milliseconds(0));

        // The addresses this call waits for; answers remove them. An address
        // still being looked up for an earlier call is not waited for again:
        // that call spent its budget on it, and a name server that does not
        // answer would otherwise hold up every refresh by the whole budget.
        TWaiter waiter;
        std::unique_lock lock(Mutex_);
        if (Stopping_) {
            return;
        }
        for (const TIp6Address& addr : addrs) {
            if (IsUnspecified(addr)) {
                continue;
            }
            auto it = Answers_.find(addr);
            if (it != Answers_.end() && it->second.Expires > start) {
                continue;
            }
            if (InFlight_.insert(addr).second) {
                Queue_.push_back(addr);
                waiter.Left.insert(addr);
            }
        }
        PruneAnswers(start);
        if (waiter.Left.empty()) {
            return;
        }
        StartWorkers();
        WorkReady_.notify_all();

        Waiters_.push_back(&waiter);
        AnswerReady_.wait_until(lock, deadline, [&] { return waiter.Left.empty() || Stopping_; });
        std::erase(Waiters_, &waiter);
    }

    std::optional<std::string> Find(const TIp6Address& addr) {
        std::lock_guard lock(Mutex_);
        auto it = Answers_.find(addr);
        if (it == Answers_.end()) {
            return std::nullopt;
        }
        return it->second.Name;
    }

    // Wakes everyone and lets the workers go; does not wait for them.
    void Stop() {
        {
            std::lock_guard lock(Mutex_);
            Stopping_ = true;
            Queue_.clear();
        }
        WorkReady_.notify_all();
        AnswerReady_.notify_all();
    }

private:
    struct TAnswer {
        std::optional<std::string> Name;  // nullopt: the lookup failed
        Clock::time_point Expires;
    };

    struct TWaiter {
        std::unordered_set<TIp6Address, TKeyHash> Left;
    };

    // Starts workers while the queue holds more addresses than there are
    // workers free to take them, up to the pool size.
    void StartWorkers() {
        while (Workers_ < MaxWorkers_ && Queue_.size() > Workers_ - Busy_) {
            try {
                std::thread(&THostNamePool::Work, shared_from_this()).detach();
            } catch (const std::system_error&) {
                // No thread now: the workers there are drain the queue, and the
                // next call tries again.
                return;
            }
            ++Workers_;
        }
    }

    // The worker's own reference keeps the pool alive after the lookup object
    // is gone, until the worker notices Stopping_.
    static void Work(std::shared_ptr<THostNamePool> pool) {
        pool->WorkLoop();
    }

    void WorkLoop() {
        std::unique_lock lock(Mutex_);
        for (;;) {
            WorkReady_.wait(lock, [&] { return Stopping_ || !Queue_.empty(); });
            if (Stopping_) {
                --Workers_;
                return;
            }
            const TIp6Address addr = Queue_.front();
            Queue_.pop_front();
            ++Busy_;
            lock.unlock();
            std::optional<std::string> name = Ask(addr);
            lock.lock();
            --Busy_;
            Store(addr, std::move(name));
        }
    }

    std::optional<std::string> Ask(const TIp6Address& addr) const {
        std::optional<std::string> name;
        try {
            name = IsIpv4Mapped(addr) ? Resolver_(MappedIpv4Field(addr)) : Resolver6_(addr);
        } catch (...) {
            // A resolver that throws has no name for this address; the worker
            // must live on for the others.
            name.reset();
        }
        if (name && name->empty()) {
            name.reset();
        }
        if (name && name->size() > kMaxHostNameLength) {
            name->resize(kMaxHostNameLength);
        }
        return name;
    }

    void Store(const TIp6Address& addr, std::optional<std::string> name) {
        const auto ttl = name ? NameTtl_ : FailureTtl_;
        Answers_[addr] = TAnswer{std::move(name), Clock::now() + ttl};
        InFlight_.erase(addr);
        bool someoneDone = false;
        for (TWaiter* waiter : Waiters_) {
            if (waiter->Left.erase(addr) != 0 && waiter->Left.empty()) {
                someoneDone = true;
            }
        }
        if (someoneDone) {
            AnswerReady_.notify_all();
        }
    }

    // Forgets expired answers now and then, so addresses seen once long ago
    // do not pile up. Expired answers being asked again stay until replaced.
    void PruneAnswers(Clock::time_point now) {
        if (now < NextPrune_) {
            return;
        }
        NextPrune_ = now + std::max(NameTtl_, FailureTtl_);
        std::erase_if(Answers_, [&](const auto& item) {
            return item.second.Expires <= now && !InFlight_.contains(item.first);
        });
    }

    const THostResolver Resolver_;
    const THost6Resolver Resolver6_;
    const std::chrono::milliseconds NameTtl_;
    const std::chrono::milliseconds FailureTtl_;
    const size_t MaxWorkers_;

    std::mutex Mutex_;
    std::condition_variable WorkReady_;
    std::condition_variable AnswerReady_;
    bool Stopping_ = false;
    size_t Workers_ = 0;  // started and not yet exited
    size_t Busy_ = 0;     // inside the resolver
    std::deque<TIp6Address> Queue_;
    std::unordered_set<TIp6Address, TKeyHash> InFlight_;  // queued or being looked up
    std::unordered_map<TIp6Address, TAnswer, TKeyHash> Answers_;
    std::vector<TWaiter*> Waiters_;
    Clock::time_point NextPrune_{};
};

THostNames::THostNames(THostResolver resolver, THost6Resolver resolver6, std::chrono::milliseconds nameTtl,
                       std::chrono::milliseconds failureTtl, size_t workers)
    : Pool_(std::make_shared<THostNamePool>(std::move(resolver), std::move(resolver6), nameTtl, failureTtl, workers)) {}

THostNames::~THostNames() { Pool_->Stop(); }

void THostNames::Resolve(const std::vector<uint32_t>& addrs, std::chrono::milliseconds budget) {
    std::vector<TIp6Address> keys;
    keys.reserve(addrs.size());
    for (uint32_t addr : addrs) keys.push_back(KeyOf(addr));
    Pool_->Resolve(keys, budget);
}

std::optional<std::string> THostNames::Find(uint32_t addr) {
    if (addr == 0) {
        return std::nullopt;
    }
    return Pool_->Find(KeyOf(addr));
}

void THostNames::Resolve6(const std::vector<TIp6Address>& addrs, std::chrono::milliseconds budget) {
    Pool_->Resolve(addrs, budget);
}

std::optional<std::string> THostNames::Find6(const TIp6Address& addr) {
    if (IsUnspecified(addr)) {
        return std::nullopt;
    }
    return Pool_->Find(addr);
}

}  // namespace tarnwick

// The socket owners of the latest refresh, handed from the refresh's thread
// to the threads that read packets: each refresh publishes a new map, which
// readers pick up at their next packet without waiting for one another.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "monitor/socket_owner_map.h"

namespace tarnwick {

class TSocketOwnerFeed {
public:
    // From any thread: `map` replaces the latest.
    void Publish(std::shared_ptr<const TSocketOwnerMap> map);
    // The latest map; an empty one before the first is published.
    std::shared_ptr<const TSocketOwnerMap> Latest() const;
    // Counts the maps published; readers look for a new map only when it changed.
    uint64_t Version() const { return Version_.load(std::memory_order_acquire); }

private:
    mutable std::mutex Mutex_;  // guards Map_, the pointer
    std::shared_ptr<const TSocketOwnerMap> Map_ = std::make_shared<const TSocketOwnerMap>();
    std::atomic<uint64_t> Version_{0};
};

// One reader's hold on the latest map of a feed: the map stays as it was
// while the reader uses it, and a packet costs one atomic load until a new
// one is published. For one thread at a time.
class TSocketOwnerView {
public:
    // Without a feed, a map that knows no socket.
    explicit TSocketOwnerView(std::shared_ptr<const TSocketOwnerFeed> feed = nullptr);
    // The latest map published, taken now if it is new.
    const TSocketOwnerMap& Current();

private:
    std::shared_ptr<const TSocketOwnerFeed> Feed_;
    std::shared_ptr<const TSocketOwnerMap> Map_;
    uint64_t Version_ = 0;
};

}  // namespace tarnwick

#include "monitor/socket_owner_feed.h"

#include <utility>

namespace tarnwick {

void TSocketOwnerFeed::Publish(std::shared_ptr<const TSocketOwnerMap> map) {
    {
        const std::lock_guard lock(Mutex_);
        Map_.swap(map);
        Version_.fetch_add(1, std::memory_order_release);
    }
    // The map replaced is freed here, outside the lock, unless a reader still holds it.
}

std::shared_ptr<const TSocketOwnerMap> TSocketOwnerFeed::Latest() const {
    const std::lock_guard lock(Mutex_);
    return Map_;
}

TSocketOwnerView::TSocketOwnerView(std::shared_ptr<const TSocketOwnerFeed> feed) : Feed_(std::move(feed)) {
    if (Feed_) {
        Version_ = Feed_->Version();
        Map_ = Feed_->Latest();
    } else {
        Map_ = std::make_shared<const TSocketOwnerMap>();
    }
}

const TSocketOwnerMap& TSocketOwnerView::Current() {
    // A version read before the map: a map published in between is taken
    // now and again at the next look, never missed.
    if (Feed_ && Feed_->Version() != Version_) {
        Version_ = Feed_->Version();
        Map_ = Feed_->Latest();
    }
    return *Map_;
}

}  // namespace tarnwick

#include "monitor/recently_gone.h"

namespace tarnwick {

void TRecentlyGone::Add(const TConnectionKey& key, TClock::time_point now) {
    Order_.emplace_back(now, key);
    Latest_[key] = now;
    Forget(now);
}

bool TRecentlyGone::Contains(const TConnectionKey& key, TClock::time_point now) {
    Forget(now);
    return Latest_.contains(key);
}

void TRecentlyGone::Forget(TClock::time_point now) {
    while (!Order_.empty() && (Order_.size() > Bound_ || now - Order_.front().first > Memory_)) {
        const auto& [when, key] = Order_.front();
        // A key added again later stays for its later time.
        if (const auto it = Latest_.find(key); it != Latest_.end() && it->second == when) Latest_.erase(it);
        Order_.pop_front();
    }
}

}  // namespace tarnwick

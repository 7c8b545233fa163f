#include "monitor/recently_gone.h"

namespace tarnwick {

void TRecentlyGone::Add(uint64_t cookie, std::optional<TLogConnection> unconnected) {
    if (cookie == 0) return;
    if (!Kept_.insert_or_assign(cookie, std::move(unconnected)).second) return;
    Order_.push_back(cookie);
    while (Kept_.size() > Bound_ && !Order_.empty()) {
        Kept_.erase(Order_.front());
        Order_.pop_front();
    }
    // Taken cookies leave their place in the order behind; drop those from
    // the front so the order does not outgrow the bound by much.
    if (Order_.size() > 2 * Bound_) {
        std::deque<uint64_t> live;
        for (uint64_t kept : Order_)
            if (Kept_.contains(kept)) live.push_back(kept);
        Order_.swap(live);
    }
}

bool TRecentlyGone::Take(uint64_t cookie, std::optional<TLogConnection>& unconnected) {
    const auto it = Kept_.find(cookie);
    if (it == Kept_.end()) return false;
    unconnected = std::move(it->second);
    Kept_.erase(it);
    return true;
}

}  // namespace tarnwick

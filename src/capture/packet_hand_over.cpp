#include "capture/packet_hand_over.h"

#include <utility>

namespace tarnwick {

void TListedRun::Clear() {
    Restart_ = false;
    Listed_ = 0;
    Size_ = 0;
}

void TListedRun::Append(const TCapturedPacket& packet) {
    if (Size_ < Slots_.size())
        Slots_[Size_].Assign(packet);
    else
        Slots_.emplace_back(packet);
    ++Size_;
}

void TListedRun::Merge(TListedRun& later) {
    if (later.Restart_) {
        // Nothing of this run survives the fresh start: take the later run's
        // records, and give it these buffers for reuse.
        std::swap(Slots_, later.Slots_);
        Size_ = later.Size_;
        Restart_ = true;
    } else {
        for (size_t i = 0; i < later.Size_; ++i) {
            if (Size_ < Slots_.size())
                Slots_[Size_] = later.Slots_[i];
            else
                Slots_.push_back(later.Slots_[i]);
            ++Size_;
        }
    }
    Listed_ += later.Listed_;
    later.Clear();
}

TPacketHandOver::TPacketHandOver(size_t packetSlots) : PacketSlots_(packetSlots) {}

void TPacketHandOver::List(const TCapturedPacket& packet) {
    ++Pending_.Listed_;
    // The packet that would fill the last slot is counted and the list starts afresh.
    if (++InList_ == PacketSlots_) {
        InList_ = 0;
        Pending_.Restart_ = true;
        Pending_.Size_ = 0;
        return;
    }
    Pending_.Append(packet);
}

bool TPacketHandOver::Offer(bool wait) {
    if (!HasUnoffered()) return false;
    std::unique_lock lock(Lock_, std::defer_lock);
    if (wait)
        lock.lock();
    else if (!lock.try_lock())
        return false;
    const bool wasEmpty = Waiting_.Listed_ == 0 && !Waiting_.Restart_;
    Waiting_.Merge(Pending_);
    return wasEmpty;
}

const TListedRun& TPacketHandOver::Take() {
    Taken_.Clear();
    const std::lock_guard lock(Lock_);
    // The spent batch's buffers go back for the reader to reuse.
    std::swap(Taken_, Waiting_);
    return Taken_;
}

void TPacketHandOver::Reset() {
    InList_ = 0;
    Pending_.Clear();
    const std::lock_guard lock(Lock_);
    Waiting_.Clear();
}

}  // namespace tarnwick

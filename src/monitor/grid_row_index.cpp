#include "monitor/grid_row_index.h"

namespace tarnwick {

namespace {

constexpr size_t kFirstSlots = 16;

const TConnectionKey& KeyOf(const TGridRowIndex::TRows& rows, int32_t row) {
    return *rows[static_cast<size_t>(row)].Key;
}

}  // namespace

size_t TGridRowIndex::HomeOf(const TConnectionKey& key) const {
    // The key's hash carries its low bits upward only, while rows often
    // differ in the high bytes of an address: multiplying spreads every bit
    // into the top ones, which pick the slot.
    return static_cast<size_t>((TConnectionKeyHash{}(key) * 0x9E3779B97F4A7C15ull) >> Shift_);
}

void TGridRowIndex::Add(const TRows& rows, int row) {
    if ((Used_ + 1) * 2 > Slots_.size()) Resize(rows, Slots_.empty() ? kFirstSlots : Slots_.size() * 2);
    const TConnectionKey& key = KeyOf(rows, row);
    const size_t mask = Slots_.size() - 1;
    size_t slot = HomeOf(key);
    for (; Slots_[slot] != 0; slot = (slot + 1) & mask) {
        if (KeyOf(rows, Slots_[slot]) == key) {
            Slots_[slot] = row;
            return;
        }
    }
    Slots_[slot] = row;
    ++Used_;
}

void TGridRowIndex::Remove(const TRows& rows, int row) {
    if (Slots_.empty()) return;
    const TConnectionKey& key = KeyOf(rows, row);
    const size_t mask = Slots_.size() - 1;
    size_t hole = HomeOf(key);
    for (;; hole = (hole + 1) & mask) {
        if (Slots_[hole] == 0) return;
        if (Slots_[hole] == row) break;
        if (KeyOf(rows, Slots_[hole]) == key) return;  // another row holds the key now
    }
    // Entries after the hole that would no longer be found past it move
    // back into it, so that no probe stops early at an empty slot.
    for (size_t next = (hole + 1) & mask; Slots_[next] != 0; next = (next + 1) & mask) {
        const size_t home = HomeOf(KeyOf(rows, Slots_[next]));
        const bool homeBetween = hole <= next ? hole < home && home <= next : hole < home || home <= next;
        if (homeBetween) continue;
        Slots_[hole] = Slots_[next];
        hole = next;
    }
    Slots_[hole] = 0;
    --Used_;
    // A grid that shrank gives the slots back, as it does its rows.
    if (Slots_.size() > kFirstSlots && Used_ * 8 < Slots_.size()) Resize(rows, Slots_.size() / 2);
}

int TGridRowIndex::Find(const TRows& rows, const TConnectionKey& key) const {
    if (Slots_.empty()) return 0;
    const size_t mask = Slots_.size() - 1;
    for (size_t slot = HomeOf(key); Slots_[slot] != 0; slot = (slot + 1) & mask)
        if (KeyOf(rows, Slots_[slot]) == key) return Slots_[slot];
    return 0;
}

void TGridRowIndex::Resize(const TRows& rows, size_t slots) {
    std::vector<int32_t> old(slots, 0);
    old.swap(Slots_);
    Shift_ = 64;
    for (size_t size = Slots_.size(); size > 1; size >>= 1) --Shift_;
    const size_t mask = Slots_.size() - 1;
    for (const int32_t row : old) {
        if (row == 0) continue;
        size_t slot = HomeOf(KeyOf(rows, row));
        while (Slots_[slot] != 0) slot = (slot + 1) & mask;
        Slots_[slot] = row;
    }
}

}  // namespace tarnwick

// An index over the positions of a vector, by a 64-bit hash of what each
// position holds: open addressing with linear probing, kept at most half
// full, so that a look-up reads a slot or two. The vector keeps the elements;
// the index only names their positions, so it stays small enough for the
// cache at 100,000 elements, and the elements stay in the vector's order.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwick {

class TPositionIndex {
public:
    static constexpr uint32_t kNone = UINT32_MAX;

    // The position of an element with `hash` for which `matches(position)`
    // holds, or kNone.
    template <typename TMatches>
    uint32_t Find(uint64_t hash, TMatches&& matches) const {
        if (Slots_.empty()) return kNone;
        const size_t mask = Slots_.size() - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const TSlot& s = Slots_[slot];
            if (s.Position == kNone) return kNone;
            if (s.Hash == hash && matches(s.Position)) return s.Position;
        }
    }

    // Indexes `position` under `hash`. The caller makes room first
    // (HasRoomFor, Rebuild).
    void Add(uint64_t hash, uint32_t position) {
        const size_t mask = Slots_.size() - 1;
        size_t slot = hash & mask;
        while (Slots_[slot].Position != kNone) slot = (slot + 1) & mask;
        Slots_[slot] = TSlot{hash, position};
    }

    // Whether `count` positions fit without the index growing past half full.
    bool HasRoomFor(size_t count) const { return count * 2 <= Slots_.size(); }

    // Indexes positions 0 .. count - 1 afresh, `hashOf(position)` giving each
    // one's hash, in room for at least `room` positions.
    template <typename THashOf>
    void Rebuild(size_t count, size_t room, THashOf&& hashOf) {
        Slots_.assign(std::bit_ceil(std::max<size_t>({count, room, 8}) * 2), TSlot{});
        for (uint32_t position = 0; position < count; ++position) Add(hashOf(position), position);
    }

    // Room for the positions it holds now.
    size_t Room() const { return Slots_.size() / 2; }

private:
    struct TSlot {
        uint64_t Hash = 0;
        uint32_t Position = kNone;
    };
    std::vector<TSlot> Slots_;
};

}  // namespace tarnwick

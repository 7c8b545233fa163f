// TPacketHandOver: the packets a capture lists, carried from the thread that
// reads the captures to the thread that owns the list, in batches.
//
// The list keeps kPacketSlots - 1 packets at most and starts afresh when a
// packet would fill its last slot, so of all the packets listed since the
// owner last took a batch only those since the latest fresh start can still
// be on view: the hand-over keeps those and counts the others. However long
// the owner takes, it holds at most one list's worth of packets, and a batch
// applied in order gives the list and its count exactly as if every packet
// had been listed one by one.
//
// The reader never waits for the owner: it fills a batch of its own and
// offers it with a lock it only tries to take; when the owner holds the lock
// the batch grows and is offered after the next read. Packet buffers are
// reused from batch to batch, so listing a packet allocates nothing once the
// slots have been used.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "capture/packet_parser.h"
#include "capture/packet_record.h"

namespace tarnwick {

// Packets listed in a row, as the list is to take them.
class TListedRun {
public:
    // The list starts afresh before Records.
    bool Restart() const { return Restart_; }
    // Packets listed, also those a fresh start within the run removed.
    long long Listed() const { return Listed_; }
    // The packets the list keeps, in the order listed.
    size_t Size() const { return Size_; }
    const TPacketRecord& Record(size_t index) const { return Slots_[index]; }

private:
    friend class TPacketHandOver;
    void Clear();
    void Append(const TCapturedPacket& packet);
    // Adds `later` after this run; `later` is left empty.
    void Merge(TListedRun& later);

    bool Restart_ = false;
    long long Listed_ = 0;
    size_t Size_ = 0;
    std::vector<TPacketRecord> Slots_;  // the first Size_ are the run's; the rest wait for reuse
};

class TPacketHandOver {
public:
    explicit TPacketHandOver(size_t packetSlots);
    TPacketHandOver(const TPacketHandOver&) = delete;
    TPacketHandOver& operator=(const TPacketHandOver&) = delete;

    // On the reading thread: `packet` was listed.
    void List(const TCapturedPacket& packet);
    // On the reading thread: hands the packets listed since the last offer
    // to the owner unless the owner is taking a batch right now (then they
    // wait for the next offer; with `wait`, the offer waits for the owner
    // instead). True when the owner had nothing waiting before: it is to be
    // told that a batch waits.
    bool Offer(bool wait = false);
    // Packets listed but not offered yet.
    bool HasUnoffered() const { return Pending_.Listed_ > 0 || Pending_.Restart_; }

    // On the owner's thread: the packets offered since the last call, valid
    // until the next call.
    const TListedRun& Take();

    // The list is empty now: forgets everything listed. Only while no thread reads.
    void Reset();

private:
    const size_t PacketSlots_;
    size_t InList_ = 0;     // packets in the list once everything listed is applied (reader's)
    TListedRun Pending_;    // reader's: listed, not offered
    std::mutex Lock_;       // guards Waiting_
    TListedRun Waiting_;    // offered, not taken
    TListedRun Taken_;      // owner's: the last batch taken
};

}  // namespace tarnwick

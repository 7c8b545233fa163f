// tarnwick-helper's capture of one interface: a packet socket (AF_PACKET,
// SOCK_DGRAM, so the kernel takes every link-layer header off itself and
// says the protocol beside the packet, whatever the link type) with the
// capture filter, a TPACKET_V3 ring of kCaptureBufferSize (blocks handed
// over when full or after 10 ms, as TPcapPacketSource's captures) and only
// then bound to its interface, so no packet queues anywhere the ring does not
// see. The forwarder (capture_forwarder.h) reads it.
//
// Loopback: each packet passes the taps twice, leaving and arriving; the
// filter keeps the leaving copy out of the ring, so each is read once (as
// TPcapPacketSource's loopback capture). Whether an interface is loopback is
// read from its own flags, never taken from a request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/result.h"
#include "platform/linux/capture_batch.h"
#include "platform/linux/unique_fd.h"

namespace tarnwick {

// One packet of the ring, valid until its block is released.
struct TRingFrame {
    uint64_t TimeNs = 0;
    uint32_t WireLength = 0;
    uint32_t InterfaceIndex = 0;
    uint16_t Protocol = 0;  // EtherType, host order
    std::span<const uint8_t> Data;
};

class TCaptureRing {
public:
    // Sets up `packetSocket` (unbound, protocol 0) as the capture of the
    // interface of index `index`; fails when the interface does not exist
    // (ENODEV) or the system refused a step.
    static TResult<std::unique_ptr<TCaptureRing>> Open(TUniqueFd packetSocket, uint32_t index);

    ~TCaptureRing();
    TCaptureRing(const TCaptureRing&) = delete;
    TCaptureRing& operator=(const TCaptureRing&) = delete;

    int Fd() const { return Socket_.Get(); }

    // Takes the next block when the kernel has handed it over.
    bool OpenBlock();
    // The next packet of the open block; false when it has no more (or a
    // packet does not lie within the block, which the kernel never writes
    // but which must not send us reading past the ring).
    bool NextFrame(TRingFrame& frame);
    // Gives the open block back to the kernel.
    void ReleaseBlock();

    // The kernel's counters since the capture began (it restarts them at
    // every read: they add up here).
    TCaptureCounters Counters();

private:
    TCaptureRing(TUniqueFd socket, uint8_t* ring);

    TUniqueFd Socket_;
    uint8_t* Ring_;
    unsigned Block_ = 0;
    bool Open_ = false;
    uint32_t Left_ = 0;
    size_t Next_ = 0;  // offset in the block
    TCaptureCounters Counters_;
};

}  // namespace tarnwick

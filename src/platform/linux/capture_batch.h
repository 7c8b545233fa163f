// The batches of a capture stream (helper_protocol.h): written by the
// helper's forwarder, read by the program, which checks every length before
// it trusts one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"

namespace tarnwick {

struct TCaptureFrame {
    uint64_t TimeNs = 0;  // since the epoch
    uint32_t WireLength = 0;
    uint32_t InterfaceIndex = 0;
    uint16_t Protocol = 0;  // EtherType, host order
    std::span<const uint8_t> Data;  // the captured bytes, network header first
};

struct TCaptureCounters {
    uint64_t Received = 0;  // dropped ones included
    uint64_t Dropped = 0;
    bool operator==(const TCaptureCounters&) const = default;
};

// Builds one batch at a time in a buffer of kMaxCaptureBatchSize.
class TCaptureBatchWriter {
public:
    TCaptureBatchWriter();

    // Adds a frame of `data`; false, adding nothing, when the batch has no
    // room left for it (or a frame that large would never fit).
    bool Add(uint64_t timeNs, uint32_t wireLength, uint32_t interfaceIndex, uint16_t protocol,
             std::span<const uint8_t> data);
    size_t Frames() const { return Frames_; }
    // The message of the frames added, with `counters`; the next Add starts
    // a new batch. Valid until then.
    std::span<const uint8_t> Finish(const TCaptureCounters& counters);

private:
    std::vector<uint8_t> Buffer_;
    size_t Size_;
    uint32_t Frames_ = 0;
    bool Finished_ = false;
};

struct TCaptureBatch {
    TCaptureCounters Counters;
    std::vector<TCaptureFrame> Frames;  // their Data lie in the message read
};

// Reads one message of a capture stream into `batch` (its frames replaced).
// Fails, saying what is wrong with it, when it is not a well-formed batch;
// `batch` holds no frames then.
TStatus ParseCaptureBatch(std::span<const uint8_t> message, TCaptureBatch& batch);

}  // namespace tarnwick

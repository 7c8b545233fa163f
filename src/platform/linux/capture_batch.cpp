#include "platform/linux/capture_batch.h"

#include <cstring>

#include "platform/linux/helper_protocol.h"

namespace tarnwick {

namespace {

constexpr size_t kCountersAt = kHelperHeaderSize;
constexpr size_t kCountAt = kCountersAt + 16;
constexpr size_t kFirstFrameAt = kCountAt + 4;
// Time, wire length, captured length, interface, protocol, zero.
constexpr size_t kFrameHeaderSize = 8 + 4 + 4 + 4 + 2 + 2;

void PutLe(uint8_t* out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return value;
}

}  // namespace

TCaptureBatchWriter::TCaptureBatchWriter() : Buffer_(kMaxCaptureBatchSize), Size_(kFirstFrameAt) {
    Buffer_[0] = kHelperProtocolVersion;
    Buffer_[1] = static_cast<uint8_t>(THelperVerb::CaptureFrames);
}

bool TCaptureBatchWriter::Add(uint64_t timeNs, uint32_t wireLength, uint32_t interfaceIndex, uint16_t protocol,
                              std::span<const uint8_t> data) {
    if (Finished_) {
        Finished_ = false;
        Size_ = kFirstFrameAt;
        Frames_ = 0;
    }
    if (kFrameHeaderSize + data.size() > Buffer_.size() - Size_) return false;
    uint8_t* out = Buffer_.data() + Size_;
    PutLe(out, timeNs, 8);
    PutLe(out + 8, wireLength, 4);
    PutLe(out + 12, data.size(), 4);
    PutLe(out + 16, interfaceIndex, 4);
    PutLe(out + 20, protocol, 2);
    PutLe(out + 22, 0, 2);
    if (!data.empty()) std::memcpy(out + kFrameHeaderSize, data.data(), data.size());
    Size_ += kFrameHeaderSize + data.size();
    ++Frames_;
    return true;
}

std::span<const uint8_t> TCaptureBatchWriter::Finish(const TCaptureCounters& counters) {
    if (Finished_) {
        Size_ = kFirstFrameAt;
        Frames_ = 0;
    }
    PutLe(Buffer_.data() + kCountersAt, counters.Received, 8);
    PutLe(Buffer_.data() + kCountersAt + 8, counters.Dropped, 8);
    PutLe(Buffer_.data() + kCountAt, Frames_, 4);
    Finished_ = true;
    return {Buffer_.data(), Size_};
}

TStatus ParseCaptureBatch(std::span<const uint8_t> message, TCaptureBatch& batch) {
    batch.Frames.clear();
    if (message.size() < kFirstFrameAt)
        return TFailure{0, "a capture batch of " + std::to_string(message.size()) + " bytes"};
    if (message.size() > kMaxCaptureBatchSize) return TFailure{0, "a capture batch longer than its limit"};
    if (message[0] != kHelperProtocolVersion || message[1] != static_cast<uint8_t>(THelperVerb::CaptureFrames) ||
        message[2] != 0 || message[3] != 0)
        return TFailure{0, "a capture batch with a wrong header"};
    const uint8_t* bytes = message.data();
    batch.Counters.Received = GetLe(bytes + kCountersAt, 8);
    batch.Counters.Dropped = GetLe(bytes + kCountersAt + 8, 8);
    const uint64_t count = GetLe(bytes + kCountAt, 4);
    if (batch.Counters.Dropped > batch.Counters.Received)
        return TFailure{0, "a capture batch counts more dropped than received"};
    // Each frame takes at least its header: a count beyond that is a lie,
    // found before anything is reserved for it.
    if (count > (message.size() - kFirstFrameAt) / kFrameHeaderSize)
        return TFailure{0, "a capture batch of " + std::to_string(message.size()) + " bytes claims " +
                               std::to_string(count) + " frames"};
    batch.Frames.reserve(count);
    size_t at = kFirstFrameAt;
    for (uint64_t i = 0; i < count; ++i) {
        if (message.size() - at < kFrameHeaderSize) break;
        const uint8_t* header = bytes + at;
        TCaptureFrame frame;
        frame.TimeNs = GetLe(header, 8);
        frame.WireLength = static_cast<uint32_t>(GetLe(header + 8, 4));
        const uint64_t captured = GetLe(header + 12, 4);
        frame.InterfaceIndex = static_cast<uint32_t>(GetLe(header + 16, 4));
        frame.Protocol = static_cast<uint16_t>(GetLe(header + 20, 2));
        at += kFrameHeaderSize;
        if (GetLe(header + 22, 2) != 0 || captured > frame.WireLength || captured > message.size() - at) {
            batch.Frames.clear();
            return TFailure{0, "frame " + std::to_string(i + 1) + " of a capture batch is malformed"};
        }
        frame.Data = message.subspan(at, static_cast<size_t>(captured));
        at += static_cast<size_t>(captured);
        batch.Frames.push_back(frame);
    }
    if (batch.Frames.size() != count || at != message.size()) {
        batch.Frames.clear();
        return TFailure{0, "a capture batch of " + std::to_string(count) + " frames has " +
                               std::to_string(message.size()) + " bytes"};
    }
    return {};
}

}  // namespace tarnwick

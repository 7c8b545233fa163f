// libFuzzer target: the program's reading of a capture batch from
// tarnwick-helper. Whatever the bytes, an accepted batch's frames lie within
// the message, in order and without overlap, none longer than its length on
// the wire, and writing them again with the same counters gives back the very
// same bytes (nothing in a batch is ignored). A refused one leaves no frames.
// Seeds: tests/fuzz/capture_batch_corpus.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/linux/capture_batch.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> message(data, size);
    TCaptureBatch batch;
    batch.Frames.resize(3);  // left over from an earlier batch
    if (!ParseCaptureBatch(message, batch)) {
        if (!batch.Frames.empty()) __builtin_trap();
        return 0;
    }
    TCaptureBatchWriter writer;
    const uint8_t* end = data;
    for (const TCaptureFrame& frame : batch.Frames) {
        if (frame.Data.size() > frame.WireLength) __builtin_trap();
        if (!frame.Data.empty() && (frame.Data.data() < end || frame.Data.data() + frame.Data.size() > data + size))
            __builtin_trap();
        end = frame.Data.data() + frame.Data.size();
        if (!writer.Add(frame.TimeNs, frame.WireLength, frame.InterfaceIndex, frame.Protocol, frame.Data))
            __builtin_trap();
    }
    const std::span<const uint8_t> again = writer.Finish(batch.Counters);
    if (!std::equal(again.begin(), again.end(), message.begin(), message.end())) __builtin_trap();
    return 0;
}

// libFuzzer target: tarnwick-helper's reading of requests, the only input a
// privileged program of ours takes from an unprivileged one. Whatever it
// accepts must encode back to the very same bytes (nothing in a request is
// ignored), and a close request must name an established connection with
// both ends complete. The same bytes, cut into messages at the two-byte
// lengths they start with (so that a message can be longer than any request,
// and an input of 100 KB holds several full ones), go through the reader of
// requests of several messages, as the helper's loop feeds it: an owners
// request it completes holds exactly the sockets of its messages, and no more
// than its limit, here a few messages' worth so that inputs reach it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "platform/linux/helper_protocol.h"

using namespace tarnwick;

namespace {

// One message: its own re-encoding must be the very same bytes.
void CheckRoundTrip(std::span<const uint8_t> message) {
    const auto parsed = ParseHelperRequest(message);
    const auto* request = std::get_if<THelperRequest>(&parsed);
    if (request == nullptr) return;
    std::vector<uint8_t> again;
    if (const auto* kill = std::get_if<THelperKillRequest>(request)) {
        const TTcpRow& row = kill->Row;
        if (row.State != TTcpState::Established || row.LocalPort == 0 || row.RemotePort == 0) __builtin_trap();
        again = EncodeKillRequest(row);
    } else if (const auto* owners = std::get_if<THelperOwnersRequest>(request)) {
        if (owners->Inodes.size() > kMaxOwnerInodesPerMessage) __builtin_trap();
        if (owners->MoreFollows && owners->Inodes.empty()) __builtin_trap();
        const std::vector<std::vector<uint8_t>> messages = EncodeOwnersRequest(owners->Inodes);
        if (messages.size() != 1) __builtin_trap();
        again = messages.front();
        if (owners->MoreFollows) again[3] = kHelperMoreFollows;
    } else {
        const uint32_t index = std::get<THelperCaptureRequest>(*request).InterfaceIndex;
        if (index == 0) __builtin_trap();
        again = EncodeCaptureRequest(index);
    }
    if (!std::equal(again.begin(), again.end(), message.begin(), message.end())) __builtin_trap();
}

// Two full messages of sockets, and part of a third.
constexpr size_t kFuzzMaxInodes = 2 * kMaxOwnerInodesPerMessage + kMaxOwnerInodesPerMessage / 2;

// The bytes as messages, each after a two-byte length, through one reader.
void CheckReader(std::span<const uint8_t> data) {
    THelperRequestReader reader(kFuzzMaxInodes);
    std::vector<uint64_t> parts;  // the sockets of the unfinished request's messages
    bool broken = false;
    size_t at = 0;
    while (at + 2 <= data.size()) {
        const size_t size = std::min<size_t>(data[at] | data[at + 1] << 8, data.size() - at - 2);
        // The helper's loop receives at most kMaxHelperRequestSize bytes of a
        // message, and refuses a longer one as cut short.
        const bool cut = size > kMaxHelperRequestSize;
        const std::span<const uint8_t> message = data.subspan(at + 2, std::min(size, kMaxHelperRequestSize));
        at += 2 + size;
        const auto parsed = ParseHelperRequest(message);
        const auto* part = std::get_if<THelperOwnersRequest>(std::get_if<THelperRequest>(&parsed));
        if (part != nullptr && !broken && !cut)
            parts.insert(parts.end(), part->Inodes.begin(), part->Inodes.end());
        else
            broken = true;
        const auto outcome = cut ? reader.Add(message, "cut short") : reader.Add(message);
        if (reader.Gathered() > kFuzzMaxInodes) __builtin_trap();
        if (!outcome) {
            // Only an owners message leaves a request open.
            if (message.size() < kHelperHeaderSize || message[1] != static_cast<uint8_t>(THelperVerb::SocketOwners))
                __builtin_trap();
            continue;
        }
        if (reader.Gathered() != 0) __builtin_trap();  // nothing kept past a request's end
        const auto* whole = std::get_if<THelperOwnersRequest>(std::get_if<THelperRequest>(&*outcome));
        if (whole != nullptr && (whole->MoreFollows || whole->Inodes != parts || parts.size() > kFuzzMaxInodes))
            __builtin_trap();
        parts.clear();
        broken = false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> message(data, size);
    CheckRoundTrip(message);
    CheckReader(message);
    return 0;
}

// libFuzzer target: the program's reading of tarnwick-helper's replies, the
// input an unprivileged program takes from the privileged one, which may be
// broken or replaced. The first byte picks the request (a close, a capture,
// or owners of the sockets 1..N, or of every socket); the rest, cut into
// messages at the two-byte lengths they start with, are the reply as the
// program receives it (at most kMaxHelperReplySize bytes a message), fed to
// one reader until it rejects one or the reply is complete, as the exchange
// does. Whatever it accepts must be what an honest helper could send: owners
// ascending, each asked for, no more than asked for (or than its limit for
// every socket, here a few messages' worth so that inputs reach it), nothing
// after the end, names within their limit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/helper_reply_reader.h"

using namespace tarnwick;

namespace {

constexpr size_t kFuzzMostOfAll = 3000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // 0: close, 1: capture, 2: every socket, else owners of 1..(choice * 8).
    const uint8_t choice = data[0];
    std::vector<uint64_t> asked;
    for (uint64_t inode = 1; choice > 2 && inode <= choice * 8u; ++inode) asked.push_back(inode);
    THelperReplyReader reader = choice == 0   ? THelperReplyReader(THelperVerb::KillTcp)
                                : choice == 1 ? THelperReplyReader(THelperVerb::OpenCapture)
                                              : THelperReplyReader(asked, kFuzzMostOfAll);
    const bool owners = choice >= 2;
    const size_t limit = asked.empty() ? kFuzzMostOfAll : asked.size();

    size_t at = 1;
    bool more = true;
    while (at + 2 <= size) {
        const size_t length = std::min<size_t>(data[at] | data[at + 1] << 8, size - at - 2);
        const std::span<const uint8_t> message(data + at + 2, std::min(length, kMaxHelperReplySize));
        at += 2 + length;
        const bool complete = reader.Complete();
        const auto reply = reader.Add(message);
        if (!reply) {
            if (reply.Failure().Context.empty()) __builtin_trap();
            break;
        }
        if (complete) __builtin_trap();  // nothing is read after the end
        more = reply->Status == THelperStatus::Ok && reply->MoreFollows;
        if (more && !owners) __builtin_trap();
        if (more && reply->Body.empty()) __builtin_trap();
        if (more == reader.Complete()) __builtin_trap();
        const std::vector<THelperOwner>& found = reader.Owners();
        if (found.size() > limit) __builtin_trap();
        for (size_t i = 0; i < found.size(); ++i) {
            if (found[i].Name.size() > kMaxHelperNameSize) __builtin_trap();
            if (i > 0 && found[i].Inode <= found[i - 1].Inode) __builtin_trap();
            if (!asked.empty() && !std::binary_search(asked.begin(), asked.end(), found[i].Inode)) __builtin_trap();
        }
        if (!more) break;
    }
    return 0;
}

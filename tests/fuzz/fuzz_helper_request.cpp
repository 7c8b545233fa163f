// libFuzzer target: tarnwick-helper's reading of requests, the only input a
// privileged program of ours takes from an unprivileged one. Whatever it
// accepts must encode back to the very same bytes (nothing in a request is
// ignored), and a close request must name an established connection with
// both ends complete. The program's readers of replies get the bytes too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/linux/helper_protocol.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> message(data, size);
    const auto parsed = ParseHelperRequest(message);
    if (const auto* request = std::get_if<THelperRequest>(&parsed)) {
        std::vector<uint8_t> again;
        if (const auto* kill = std::get_if<THelperKillRequest>(request)) {
            const TTcpRow& row = kill->Row;
            if (row.State != kEstablishedState || row.LocalPort == 0 || row.RemotePort == 0) __builtin_trap();
            again = EncodeKillRequest(row);
        } else if (const auto* owners = std::get_if<THelperOwnersRequest>(request)) {
            if (owners->Inodes.size() > kMaxOwnerInodes) __builtin_trap();
            again = EncodeOwnersRequest(owners->Inodes);
        } else {
            again = EncodeCaptureRequest();
        }
        if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
    }

    std::string problem;
    for (const THelperVerb verb : {THelperVerb::Hello, THelperVerb::SocketOwners}) {
        const auto reply = ParseHelperReply(message, verb, problem);
        if (!reply) continue;
        std::vector<THelperOwner> owners;
        ParseHelloBody(reply->Body);
        if (ParseOwnersBody(reply->Body, owners)) {
            for (const THelperOwner& owner : owners)
                if (owner.Name.size() > kMaxHelperNameSize) __builtin_trap();
        }
    }
    return 0;
}

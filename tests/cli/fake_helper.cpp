// A stand-in for tarnwick-helper that starts well and then breaks the
// protocol while answering an owners request, as TARNWICK_FAKE_HELPER says:
//   trickle  an owner of the sockets asked for every 12 seconds, each
//            message saying more follow, and after the last of them nothing:
//            the reply never ends, and a program that waits for each message
//            on its own clock waits as long as there are sockets;
//   flood    messages of owners as fast as the program takes them, socket
//            1, 2, 3, ... whatever was asked, without end.
// Any other request is answered Failed, with EBUSY. Ends when the program
// closes its end.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/linux/helper_protocol.h"
#include "platform/linux/helper_server.h"

using namespace tarnwick;

namespace {

constexpr int kSocket = kHelperSocketFd;

// The messages of an owners reply for `inodes`, every one saying more follow.
std::vector<std::vector<uint8_t>> Unending(const std::vector<uint64_t>& inodes) {
    std::vector<THelperOwner> owners;
    for (const uint64_t inode : inodes) owners.push_back({inode, 1, "fake"});
    std::vector<std::vector<uint8_t>> messages = EncodeOwnersReply(owners);
    for (std::vector<uint8_t>& message : messages) message[3] = kHelperMoreFollows;
    return messages;
}

bool SendAll(const std::vector<std::vector<uint8_t>>& messages) {
    for (const std::vector<uint8_t>& message : messages) {
        if (!SendHelperMessage(kSocket, message)) return false;
    }
    return true;
}

// Until the program closes its end.
void HoldOpen() {
    pollfd watched{kSocket, POLLIN, 0};
    while (poll(&watched, 1, -1) >= 0 && (watched.revents & POLLHUP) == 0) {
        char byte;
        if (recv(kSocket, &byte, 1, 0) <= 0) return;
    }
}

void Answer(const std::string& mode, const std::vector<uint64_t>& asked) {
    if (mode == "trickle") {
        for (const uint64_t inode : asked) {
            if (!SendAll(Unending({inode}))) return;
            std::this_thread::sleep_for(std::chrono::seconds(12));
        }
        HoldOpen();
        return;
    }
    std::vector<uint64_t> batch(2000);
    for (uint64_t next = 1;; next += batch.size()) {
        for (size_t i = 0; i < batch.size(); ++i) batch[i] = next + i;
        if (!SendAll(Unending(batch))) return;
    }
}

}  // namespace

int main() {
    const char* chosen = std::getenv("TARNWICK_FAKE_HELPER");
    const std::string mode = chosen != nullptr ? chosen : "";
    if (!SendHelperMessage(kSocket, EncodeHello(kHelperCanKill | kHelperCanCapture | kHelperCanReadOwners))) return 1;
    std::vector<uint8_t> buffer(kMaxHelperRequestSize);
    THelperRequestReader reader;
    for (;;) {
        const ssize_t received = recv(kSocket, buffer.data(), buffer.size(), 0);
        if (received <= 0) return 0;
        const auto outcome = reader.Add({buffer.data(), static_cast<size_t>(received)});
        if (!outcome) continue;
        const auto* owners = std::get_if<THelperOwnersRequest>(std::get_if<THelperRequest>(&*outcome));
        if (owners == nullptr) {
            const uint8_t verb = buffer[1];
            if (!SendHelperMessage(kSocket, EncodeStatusReply(verb, THelperStatus::Failed, EBUSY, "a fake helper"))) return 0;
            continue;
        }
        Answer(mode, owners->Inodes);
        return 0;
    }
}

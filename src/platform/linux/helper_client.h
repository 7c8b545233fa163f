// The programs' side of tarnwick-helper: where it is, starting it when first
// needed, and one request at a time over the socket pair (helper_protocol.h).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ip_tables.h"
#include "platform/linux/helper_protocol.h"
#include "platform/linux/unique_fd.h"

namespace tarnwick {

// What a user without the helper does to get it, said after every reason why
// it cannot be used.
inline constexpr const char* kHelperHowTo =
    "install the tarnwick package and add yourself to the tarnwick group (then log in again)";

// The helper program: $TARNWICK_HELPER when set; else tarnwick-helper beside
// this executable (the build tree), when there is one; else
// <executable's folder>/../libexec/tarnwick/tarnwick-helper (an installed copy).
std::string FindHelperProgram();

// "<need>, and <problem>: <kHelperHowTo>": why a privileged command cannot
// be done, for the user, e.g. need "closing connections needs the
// CAP_NET_ADMIN capability or tarnwick-helper".
std::string HelperMissingText(const std::string& need, const std::string& problem);

class THelperClient {
public:
    explicit THelperClient(std::string program);
    // Closes the socket, which ends the helper, and waits for it.
    ~THelperClient();
    THelperClient(const THelperClient&) = delete;
    THelperClient& operator=(const THelperClient&) = delete;

    const std::string& Program() const { return Program_; }

    // Starts the helper unless it runs, and reads its hello. Nullopt when it
    // runs; else why it cannot be used ("tarnwick-helper is not installed
    // (...)"). A helper that could not be started is not tried again: what
    // it needs (the package, the group) takes more than this process can do.
    // A helper that stopped answering is started anew by the next request.
    //
    // The helper ends when the thread that started it ends (its parent-death
    // signal), unless the rest of this process still holds the socket; a
    // program with short-lived threads starts it from a long-lived one.
    std::optional<std::string> Start();

    // The kHelperCan* abilities of its hello; 0 when it does not run.
    uint32_t Abilities();

    // The requests. Each starts the helper when needed and returns nullopt
    // when done, else the reason: the helper's, or why it could not be asked.
    std::optional<std::string> KillTcp(const TTcpRow& row);
    // The capture stream of the interface of index `interfaceIndex` in
    // `stream` (an AF_UNIX SOCK_SEQPACKET socket: anything else is refused);
    // `error` is the errno of a failure the helper reports (EPERM: it lacks
    // CAP_NET_RAW), else 0.
    std::optional<std::string> OpenCapture(uint32_t interfaceIndex, TUniqueFd& stream, int& error);
    // The owners of `inodes` (at most kMaxOwnerInodes, sent in as many
    // messages as they take; none: of every socket).
    std::optional<std::string> SocketOwners(const std::vector<uint64_t>& inodes, std::vector<THelperOwner>& owners);

private:
    using TOnReply = std::function<std::optional<std::string>(const THelperReply& reply, TUniqueFd& passed)>;

    std::optional<std::string> StartLocked();
    std::optional<std::string> ReadHelloLocked();
    // Closes the socket and waits for the helper; `kill` does not wait for
    // one that may hang.
    void StopLocked(bool kill);
    // Reads one message into Buffer_, with at most one passed descriptor.
    std::optional<std::string> ReceiveLocked(size_t& size, TUniqueFd& passed);
    // Sends the messages of `request` and hands each reply to `onReply`
    // until the last. A failure of the exchange itself stops the helper.
    // When the helper answers Failed, its errno goes to `failedWith`.
    std::optional<std::string> ExchangeLocked(const std::vector<std::vector<uint8_t>>& request, THelperVerb verb,
                                              const TOnReply& onReply, int* failedWith = nullptr);

    const std::string Program_;
    std::mutex Mutex_;
    pid_t Child_ = -1;
    TUniqueFd Socket_;
    uint32_t Abilities_ = 0;
    std::optional<std::string> StartFailure_;
    std::vector<uint8_t> Buffer_;
};

}  // namespace tarnwick

// The programs' side of tarnwick-helper: where it is, starting it when first
// needed, and one request at a time over the socket pair (helper_protocol.h).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/ip_tables.h"
#include "platform/linux/helper_location.h"
#include "platform/linux/helper_protocol.h"
#include "platform/linux/helper_reply_reader.h"
#include "platform/linux/unique_fd.h"

namespace tarnwick {

// What a user without the helper does to get it, said after every reason why
// it cannot be used.
inline constexpr const char* kHelperHowTo =
    "install the tarnwick package and add yourself to the tarnwick group (then log in again)";

// "<need>, and <problem>: <kHelperHowTo>": why a privileged command cannot
// be done, for the user, e.g. need "closing connections needs the
// CAP_NET_ADMIN capability or tarnwick-helper".
std::string HelperMissingText(const std::string& need, const std::string& problem);

// How long one exchange with the helper may take, from its request's first
// message to its reply's last: a look through every process's descriptors on
// a busy machine takes a while.
inline constexpr std::chrono::milliseconds kHelperExchangeTimeout{30'000};

class THelperClient {
public:
    explicit THelperClient(std::string program, std::chrono::milliseconds exchangeTimeout = kHelperExchangeTimeout);
    // An empty Program: every copy found was refused, which Start tells
    // along with location.Refused.
    explicit THelperClient(THelperLocation location,
                           std::chrono::milliseconds exchangeTimeout = kHelperExchangeTimeout);
    // Closes the socket, which ends the helper, and waits for it.
    ~THelperClient();
    THelperClient(const THelperClient&) = delete;
    THelperClient& operator=(const THelperClient&) = delete;

    const std::string& Program() const { return Program_; }

    // Starts the helper unless it runs, and reads its hello. Nullopt when it
    // runs; else why it cannot be used ("tarnwick-helper is not installed
    // (...)"). A helper that could not be started is not tried again: what
    // it needs (the package, the group) takes more than this process can do.
    //
    // The helper ends when the thread that started it ends (its parent-death
    // signal), unless the rest of this process still holds the socket; a
    // program with short-lived threads starts it from a long-lived one.
    //
    // A helper that broke off an exchange (see Failure) is not started again.
    std::optional<std::string> Start();

    // Why the helper was stopped in the middle of an exchange, or nullopt:
    // it did not answer within the exchange's time, or its reply could not
    // be an honest one. Unlike a helper that cannot be started, which leaves
    // the program to do without, this is a fault of the helper or the system
    // to be reported.
    std::optional<std::string> Failure();

    // The kHelperCan* abilities of its hello; 0 when it does not run.
    uint32_t Abilities();

    // The requests. Each starts the helper when needed. Each exchange has
    // kHelperExchangeTimeout (or the constructor's time) in all, however many
    // messages it takes.
    // Closes the connection of `row`: fails with the helper's errno and
    // context (as TConnectionKiller::KillTcp), or without errno, saying why
    // the helper could not be asked.
    TStatus KillTcp(const TTcpRow& row);
    // The others return nullopt when done, else the reason: the helper's, or
    // why it could not be asked.
    // The capture stream of the interface of index `interfaceIndex` in
    // `stream` (an AF_UNIX SOCK_SEQPACKET socket: anything else is refused);
    // `error` is the errno of a failure the helper reports (EPERM: it lacks
    // CAP_NET_RAW), else 0.
    std::optional<std::string> OpenCapture(uint32_t interfaceIndex, TUniqueFd& stream, int& error);
    // The owners of `inodes` (sorted, without repeats, at most
    // kMaxOwnerInodes, sent in as many messages as they take; none: of every
    // socket, at most kMaxOwnersOfAll of them).
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
    // Sends the messages of `request` and hands each reply message, as
    // `reader` read it, to `onReply` until the last. A failure of the
    // exchange itself stops the helper for good (Failure). When the helper
    // answers Failed, its errno goes to `failedWith`.
    std::optional<std::string> ExchangeLocked(const std::vector<std::vector<uint8_t>>& request,
                                              THelperReplyReader& reader, const TOnReply& onReply,
                                              int* failedWith = nullptr);
    // The same for a request with `verb` answered by one message.
    std::optional<std::string> ExchangeLocked(const std::vector<std::vector<uint8_t>>& request, THelperVerb verb,
                                              const TOnReply& onReply, int* failedWith = nullptr);

    const std::string Program_;
    // Copies not used, said when the helper cannot be started.
    const std::string Refused_;
    const std::chrono::milliseconds ExchangeTimeout_;
    std::mutex Mutex_;
    pid_t Child_ = -1;
    TUniqueFd Socket_;
    uint32_t Abilities_ = 0;
    std::optional<std::string> StartFailure_;
    std::optional<std::string> Failure_;
    std::vector<uint8_t> Buffer_;
};

}  // namespace tarnwick

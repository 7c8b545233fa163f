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

    // Starts the helper unless it runs, and reads its hello; fails with why
    // it cannot be used ("tarnwick-helper is not installed (...)"). A helper
    // that could not be started is not tried again: what it needs (the
    // package, the group) takes more than this process can do.
    //
    // The helper ends when the thread that started it ends (its parent-death
    // signal), unless the rest of this process still holds the socket; a
    // program with short-lived threads starts it from a long-lived one.
    //
    // A helper that broke off an exchange (see Health) is not started again.
    TStatus Start();

    // Fails once the helper was stopped in the middle of an exchange, saying
    // why: it did not answer within the exchange's time, or its reply could
    // not be an honest one. Unlike a helper that cannot be started, which
    // leaves the program to do without, this is a fault of the helper or the
    // system to be reported.
    TStatus Health();

    // The kHelperCan* abilities of its hello; 0 when it does not run.
    uint32_t Abilities();

    // The requests. Each starts the helper when needed. Each exchange has
    // kHelperExchangeTimeout (or the constructor's time) in all, however many
    // messages it takes. Each fails with the helper's errno and context when
    // the helper reports a failure, or without errno, saying why the helper
    // could not be asked (its Text() as Start and Health give it).
    //
    // Closes the connection of `row` (as TConnectionKiller::KillTcp).
    TStatus KillTcp(const TTcpRow& row);
    // The capture stream of the interface of index `interfaceIndex` (an
    // AF_UNIX SOCK_SEQPACKET socket: anything else is refused). EPERM from
    // the helper: it lacks CAP_NET_RAW.
    TResult<TUniqueFd> OpenCapture(uint32_t interfaceIndex);
    // The owners of `inodes` (sorted, without repeats, at most
    // kMaxOwnerInodes, sent in as many messages as they take; none: of every
    // socket, at most kMaxOwnersOfAll of them).
    TResult<std::vector<THelperOwner>> SocketOwners(const std::vector<uint64_t>& inodes);

private:
    using TOnReply = std::function<TStatus(const THelperReply& reply, TUniqueFd& passed)>;

    TStatus StartLocked();
    // Reads the hello. A helper that sends none is ended: the failure is its
    // exit status when it ended by itself (it could not drop its privileges,
    // say), else what was wrong; one that hangs or talks nonsense is killed.
    TStatus ReadHelloLocked();
    // Closes the socket and waits for the helper; `kill` does not wait for
    // one that may hang. How it ended ("exit status 1").
    std::string StopLocked(bool kill);
    // Reads one message into Buffer_, with at most one passed descriptor:
    // its size, 0 when the helper has closed its end (an empty message reads
    // the same).
    TResult<size_t> ReceiveLocked(TUniqueFd& passed);
    // Sends the messages of `request` and hands each reply message, as
    // `reader` read it, to `onReply` until the last. A failure of the
    // exchange itself (or of `onReply`) stops the helper for good (Health).
    TStatus ExchangeLocked(const std::vector<std::vector<uint8_t>>& request, THelperReplyReader& reader,
                           const TOnReply& onReply);
    // The same for a request with `verb` answered by one message.
    TStatus ExchangeLocked(const std::vector<std::vector<uint8_t>>& request, THelperVerb verb,
                           const TOnReply& onReply);

    const std::string Program_;
    // Copies not used, said when the helper cannot be started.
    const std::string Refused_;
    const std::chrono::milliseconds ExchangeTimeout_;
    std::mutex Mutex_;
    pid_t Child_ = -1;
    TUniqueFd Socket_;
    uint32_t Abilities_ = 0;
    std::optional<TFailure> StartFailure_;
    std::optional<TFailure> Failure_;
    std::vector<uint8_t> Buffer_;
};

}  // namespace tarnwick

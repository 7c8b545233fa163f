// TEndedConnections from the kernel's socket-destroy notifications: every
// socket's destruction is broadcast on the sock_diag multicast groups
// (<linux/sock_diag.h>) as an inet_diag_msg, the same message a table dump
// answers with.
//
// A thread of its own reads the notifications as they come, so that a flood
// of short connections cannot overflow the socket while no refresh runs; it
// keeps at most `bound` of them until the next take and counts the rest.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/result.h"
#include "platform/ended_connections.h"
#include "platform/linux/eventfd_wakeup.h"

struct mnl_socket;

namespace tarnwick {

class TLinuxEndedConnections final : public TEndedConnections {
public:
    static constexpr size_t kDefaultBound = 10000;

    // Subscribes and starts reading. When the kernel refuses the subscription
    // (no privilege, an old kernel) the source stays inactive: no thread runs.
    // `includeIpv6` as the tables' switch of that name: off, only IPv4
    // connections and IPv4-mapped IPv6 ones are kept.
    explicit TLinuxEndedConnections(bool includeIpv6 = true, size_t bound = kDefaultBound);
    // Stops the reader and waits for it.
    ~TLinuxEndedConnections() override;
    TLinuxEndedConnections(const TLinuxEndedConnections&) = delete;
    TLinuxEndedConnections& operator=(const TLinuxEndedConnections&) = delete;

    bool Active() const override;
    TEndedTake TakeEnded() override;

    // Whether the source is active: fails with why not (the call that failed
    // and its errno) once it is inactive.
    TStatus Available() const;

    void SetIncludeIpv6(bool include) { IncludeIpv6_ = include; }

private:
    struct TSocketCloser {
        void operator()(mnl_socket* socket) const;
    };

    // The reader thread: waits for notifications or the stop signal.
    void Read();
    // Reads everything queued on the socket now; false when the socket failed for good.
    bool Drain(std::vector<char>& buffer);
    void Keep(std::vector<TEndedConnection>& ended);

    const size_t Bound_;
    std::atomic<bool> IncludeIpv6_;
    std::unique_ptr<mnl_socket, TSocketCloser> Socket_;
    std::optional<TEventFdWakeup> Stop_;
    std::optional<TFailure> Failure_;  // set before the thread starts, or never
    std::atomic<bool> Failed_{false};  // the socket failed while reading

    mutable std::mutex Mutex_;  // guards what follows
    std::vector<TEndedConnection> Pending_;
    uint64_t Dropped_ = 0;
    bool Lost_ = false;
    std::optional<TFailure> ReadFailure_;

    std::thread Reader_;  // last: started once everything above exists
};

}  // namespace tarnwick

// Reading a capture component's captures as their packets arrive: the loop
// (ReadCaptures), which the command-line tool runs on its own thread, and
// TCaptureReader, which runs it on a thread of its own, so that a window's
// capture is read however busy the window is.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "capture/cap_ip.h"
#include "common/result.h"
#include "platform/wakeup.h"

namespace tarnwick {

struct TCaptureLoop {
    // Packets read from one ready capture before the others get their turn.
    int ReadBatch = Tcap_ip::kDefaultReadBatch;
    // Ends a wait when it polls readable (-1: none); the loop never reads it.
    int WakeFd = -1;
    // Asked before every wait; false ends the loop.
    std::function<bool()> KeepGoing;
    // The longest wait for packets in ms (-1: no limit).
    std::function<int()> WaitMs;
    // After the reads that follow each wait.
    std::function<void()> AfterRound;
};

// Waits until captures of `capture` poll readable and reads each that does,
// until KeepGoing says no. A capture whose descriptor broke is read once
// more, for its error, then left alone. Fails when something else ended the
// loop: "every capture has failed", or the failure of the wait. Errors of
// OnCap go on to the caller.
TStatus ReadCaptures(Tcap_ip& capture, const TCaptureLoop& loop);

class TCaptureReader {
public:
    // Reads the open captures of `capture` on a new thread with ReadCaptures;
    // `loop.KeepGoing` and `loop.WakeFd` are the reader's own, the latter
    // `stop`'s, which Stop signals (and this clears). `onEnd` runs last on
    // that thread, however the loop ended. From now until Stop only that
    // thread may touch `capture`. Throws std::system_error when the thread
    // cannot start.
    TCaptureReader(Tcap_ip& capture, TWakeup& stop, TCaptureLoop loop, std::function<void()> onEnd);
    // Stops.
    ~TCaptureReader();
    TCaptureReader(const TCaptureReader&) = delete;
    TCaptureReader& operator=(const TCaptureReader&) = delete;

    // Ends the thread after the read in progress and waits for it.
    void Stop();
    // Whether the thread ran until it was asked to end: fails with why it
    // ended before. Valid after Stop.
    TStatus Outcome() const;

private:
    void Run(TCaptureLoop loop, const std::function<void()>& onEnd);

    Tcap_ip& Capture_;
    TWakeup& StopWakeup_;
    std::atomic<bool> Stopping_{false};
    std::optional<TFailure> Failure_;  // the thread's until it is joined
    std::thread Thread_;
};

}  // namespace tarnwick

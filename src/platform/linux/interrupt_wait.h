// Waiting for Ctrl+C (SIGINT) or SIGTERM without a signal handler.
//
// The object blocks both signals in the thread that constructs it; threads
// started afterwards inherit that mask, so the signals stay pending until this
// object takes them with sigtimedwait instead of killing the process midway
// through a refresh. Construct it first thing in main, before any thread
// starts, and destroy it on the same thread.
#pragma once

#include <atomic>
#include <chrono>
#include <signal.h>

namespace tarnwick {

class TInterruptWait {
public:
    // Blocks SIGINT and SIGTERM in the calling thread.
    TInterruptWait();

    // Takes signals that arrived but were not waited for (the program is
    // ending anyway, and a pending SIGINT would otherwise kill it as soon as
    // the mask is lifted), then restores the mask found by the constructor.
    ~TInterruptWait();

    TInterruptWait(const TInterruptWait&) = delete;
    TInterruptWait& operator=(const TInterruptWait&) = delete;

    // Waits up to `timeout` for SIGINT or SIGTERM. True when one arrived, or
    // at once when one has arrived before; false when the time ran out.
    bool WaitForInterrupt(std::chrono::milliseconds timeout);

    // True once SIGINT or SIGTERM has been taken. Safe to read from any thread.
    bool Interrupted() const;

private:
    sigset_t Signals_;
    sigset_t OldMask_;
    std::atomic<bool> Interrupted_{false};
};

}  // namespace tarnwick

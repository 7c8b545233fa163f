// Waiting for descriptors to poll readable: how code above the platform (the
// capture reader) waits for its captures and wake-ups without system calls
// of its own.
#pragma once

#include <span>

#include "common/result.h"

namespace tarnwick {

struct TWatchedFd {
    int Fd = -1;  // a negative descriptor is not watched
    // Set by the wait: something is to be read, or the descriptor failed
    // (a read tells which).
    bool Ready = false;
    // Set by the wait: the descriptor failed or hung up with nothing left
    // to read.
    bool Broken = false;
};

// Waits until a descriptor of `watched` is ready or `timeoutMs` passed (-1:
// no limit), and sets the flags of each. A wait a signal interrupts returns
// with no flag set. Fails with errno when the system refuses the wait.
TStatus WaitForReadable(std::span<TWatchedFd> watched, int timeoutMs);

}  // namespace tarnwick

#include "platform/linux/interrupt_wait.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <pthread.h>

namespace tarnwick {

namespace {

timespec ToTimespec(std::chrono::nanoseconds duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds.count());
    ts.tv_nsec = static_cast<long>((duration - seconds).count());
    return ts;
}

}  // namespace

TInterruptWait::TInterruptWait() {
    sigemptyset(&Signals_);
    sigaddset(&Signals_, SIGINT);
    sigaddset(&Signals_, SIGTERM);
    sigemptyset(&OldMask_);
    pthread_sigmask(SIG_BLOCK, &Signals_, &OldMask_);
}

TInterruptWait::~TInterruptWait() {
    const timespec now{};
    while (sigtimedwait(&Signals_, nullptr, &now) > 0) {
        Interrupted_ = true;
    }
    pthread_sigmask(SIG_SETMASK, &OldMask_, nullptr);
}

bool TInterruptWait::WaitForInterrupt(std::chrono::milliseconds timeout) {
    if (Interrupted_) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::max(timeout, std::chrono::milliseconds(0));
    for (;;) {
        const auto left = std::max(deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration(0));
        const timespec ts = ToTimespec(left);
        const int signal = sigtimedwait(&Signals_, nullptr, &ts);
        if (signal == SIGINT || signal == SIGTERM) {
            Interrupted_ = true;
            return true;
        }
        // EINTR: some other signal's handler ran; wait for the rest of the time.
        if (signal < 0 && errno == EINTR) {
            continue;
        }
        // EAGAIN: the time ran out.
        return false;
    }
}

bool TInterruptWait::Interrupted() const {
    return Interrupted_;
}

}  // namespace tarnwick

// TWakeup over a pipe: readable while a byte waits in it. The wake-ups that
// code below the platform's services needs (the capture reader and its
// owner) use this portable form; the Linux services use TEventFdWakeup. On
// Windows, where only sockets can be polled, the pipe is a connected pair of
// loopback sockets.
#pragma once

#include "platform/wakeup.h"

namespace tarnwick {

class TPipeWakeup final : public TWakeup {
public:
    // Throws std::system_error when the pipe cannot be made.
    TPipeWakeup();
    ~TPipeWakeup() override;
    TPipeWakeup(const TPipeWakeup&) = delete;
    TPipeWakeup& operator=(const TPipeWakeup&) = delete;

    int Fd() const override { return Read_; }
    void Signal() override;
    void Clear() override;

private:
    int Read_ = -1;
    int Write_ = -1;
};

}  // namespace tarnwick

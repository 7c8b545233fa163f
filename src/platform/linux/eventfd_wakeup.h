// TWakeup over an eventfd(2): a counter the kernel keeps; reading it clears it.
#pragma once

#include "platform/linux/unique_fd.h"
#include "platform/wakeup.h"

namespace tarnwick {

class TEventFdWakeup final : public TWakeup {
public:
    // Throws std::system_error when the descriptor cannot be made.
    TEventFdWakeup();

    int Fd() const override { return Fd_.Get(); }
    void Signal() override;
    void Clear() override;

private:
    TUniqueFd Fd_;
};

}  // namespace tarnwick

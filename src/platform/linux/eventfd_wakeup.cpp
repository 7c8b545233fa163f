#include "platform/linux/eventfd_wakeup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace tarnwick {

TEventFdWakeup::TEventFdWakeup() : Fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!Fd_.IsValid()) throw std::system_error(errno, std::generic_category(), "eventfd");
}

void TEventFdWakeup::Signal() {
    const uint64_t one = 1;
    // Only a counter at its maximum refuses (EAGAIN), and it is readable then anyway.
    while (write(Fd_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TEventFdWakeup::Clear() {
    uint64_t count = 0;
    // One read takes the whole count; EAGAIN means it was clear already.
    while (read(Fd_.Get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

}  // namespace tarnwick

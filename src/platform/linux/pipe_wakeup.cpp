#include "platform/pipe_wakeup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tarnwick {

TPipeWakeup::TPipeWakeup() {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    Read_ = ends[0];
    Write_ = ends[1];
}

TPipeWakeup::~TPipeWakeup() {
    close(Read_);
    close(Write_);
}

void TPipeWakeup::Signal() {
    const char one = 1;
    // A full pipe refuses (EAGAIN), and it is readable then anyway.
    while (write(Write_, &one, 1) < 0 && errno == EINTR) {
    }
}

void TPipeWakeup::Clear() {
    char bytes[64];
    // Until EAGAIN: every signal since the last clear is taken.
    for (;;) {
        const ssize_t got = read(Read_, bytes, sizeof bytes);
        if (got > 0) continue;
        if (got < 0 && errno == EINTR) continue;
        return;
    }
}

}  // namespace tarnwick

#include "platform/linux/open_for_writing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace tarnwick {

TResult<TUniqueFd> OpenForWriting(const std::string& path, int flags, mode_t mode) {
    constexpr auto kReaderWait = std::chrono::seconds(2);
    const auto deadline = std::chrono::steady_clock::now() + kReaderWait;
    for (;;) {
        // Not blocking: a FIFO's open would otherwise wait for its reader for ever.
        TUniqueFd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | flags, mode));
        if (fd.IsValid()) {
            const int status = ::fcntl(fd.Get(), F_GETFL);
            if (status >= 0) ::fcntl(fd.Get(), F_SETFL, status & ~O_NONBLOCK);
            return fd;
        }
        const int error = errno;
        if (error == EINTR) continue;
        struct stat st {};
        if (error != ENXIO || ::stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode) ||
            std::chrono::steady_clock::now() >= deadline)
            return TFailure{error, "opening " + path};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace tarnwick

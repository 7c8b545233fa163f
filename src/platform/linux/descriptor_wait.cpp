#include "platform/descriptor_wait.h"

#include <poll.h>

#include <array>
#include <cerrno>
#include <vector>

namespace tarnwick {

namespace {

// Captures and their wake-up fit here; more go to the heap.
constexpr size_t kWatchedOnStack = 32;

}  // namespace

TStatus WaitForReadable(std::span<TWatchedFd> watched, int timeoutMs) {
    std::array<pollfd, kWatchedOnStack> onStack;
    std::vector<pollfd> onHeap;
    pollfd* fds = onStack.data();
    if (watched.size() > onStack.size()) {
        onHeap.resize(watched.size());
        fds = onHeap.data();
    }
    for (size_t i = 0; i < watched.size(); ++i) {
        fds[i] = {watched[i].Fd, POLLIN, 0};
        watched[i].Ready = false;
        watched[i].Broken = false;
    }
    if (::poll(fds, watched.size(), timeoutMs) < 0) {
        if (errno == EINTR) return {};
        return FailureFromErrno("poll");
    }
    for (size_t i = 0; i < watched.size(); ++i) {
        const short events = fds[i].revents;
        watched[i].Ready = events != 0;
        watched[i].Broken = (events & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (events & POLLIN) == 0;
    }
    return {};
}

}  // namespace tarnwick

#include "platform/descriptor_wait.h"

#include <winsock2.h>

#include <array>
#include <vector>

#include "platform/windows/unique_handle.h"
#include "platform/windows/win32_failure.h"

namespace tarnwick {

namespace {

// Captures and their wake-up fit here; more go to the heap.
constexpr size_t kWatchedOnStack = 32;

}  // namespace

// Every descriptor waited on here is a socket (the captures' raw sockets and
// the wake-ups' socket pairs): WSAPoll, Winsock's poll.
TStatus WaitForReadable(std::span<TWatchedFd> watched, int timeoutMs) {
    std::array<WSAPOLLFD, kWatchedOnStack> onStack;
    std::vector<WSAPOLLFD> onHeap;
    WSAPOLLFD* fds = onStack.data();
    if (watched.size() > onStack.size()) {
        onHeap.resize(watched.size());
        fds = onHeap.data();
    }
    // WSAPoll refuses a list of nothing but ignored entries; a wait on
    // nothing is a sleep.
    bool any = false;
    for (size_t i = 0; i < watched.size(); ++i) {
        // A negative descriptor is left out, as poll leaves it: WSAPoll
        // ignores INVALID_SOCKET.
        fds[i] = {SocketOfDescriptor(watched[i].Fd), POLLRDNORM, 0};
        watched[i].Ready = false;
        watched[i].Broken = false;
        any |= watched[i].Fd >= 0;
    }
    if (!any) {
        if (timeoutMs > 0) ::Sleep(static_cast<DWORD>(timeoutMs));
        return {};
    }
    if (::WSAPoll(fds, static_cast<ULONG>(watched.size()), timeoutMs) == SOCKET_ERROR)
        return FailureFromLastSocketError("waiting for the sockets");
    for (size_t i = 0; i < watched.size(); ++i) {
        // Wine reports the ignored entries invalid (POLLNVAL); poll never
        // sets anything for them.
        if (watched[i].Fd < 0) continue;
        const short events = fds[i].revents;
        watched[i].Ready = events != 0;
        watched[i].Broken = (events & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (events & POLLRDNORM) == 0;
    }
    return {};
}

}  // namespace tarnwick

#include "platform/linux/capture_forwarder.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include "platform/linux/capabilities.h"
#include "platform/linux/capture_batch.h"
#include "platform/linux/helper_protocol.h"

namespace tarnwick {

namespace {

// How often counters go out without frames, when they changed.
constexpr int kCountersIntervalMs = 100;
// Room for a few batches in flight (the kernel caps it at net.core.wmem_max).
constexpr int kStreamSendBuffer = 4 * static_cast<int>(kMaxCaptureBatchSize);

enum class TSent { Ok, Gone, Failed };

TSent SendBatch(int stream, std::span<const uint8_t> batch) {
    for (;;) {
        const ssize_t sent = send(stream, batch.data(), batch.size(), MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(batch.size())) return TSent::Ok;
        if (sent >= 0) return TSent::Failed;
        if (errno == EINTR) continue;
        return errno == EPIPE || errno == ECONNRESET ? TSent::Gone : TSent::Failed;
    }
}

// Closes every descriptor but `a` and `b`.
void CloseAllBut(int a, int b) {
    const unsigned low = static_cast<unsigned>(std::min(a, b));
    const unsigned high = static_cast<unsigned>(std::max(a, b));
    if (low > 0) close_range(0, low - 1, 0);
    if (high > low + 1) close_range(low + 1, high - 1, 0);
    close_range(high + 1, UINT_MAX, 0);
}

}  // namespace

int ForwardCapture(TCaptureRing& ring, int stream) {
    TCaptureBatchWriter writer;
    TCaptureCounters sent;
    for (;;) {
        pollfd watched[2] = {{ring.Fd(), POLLIN, 0}, {stream, 0, 0}};
        if (poll(watched, 2, kCountersIntervalMs) < 0 && errno != EINTR) return 1;
        // Hung up: the program closed its end (POLLHUP comes whatever is asked for).
        if ((watched[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return 0;
        bool any = false;
        while (ring.OpenBlock()) {
            TRingFrame frame;
            while (ring.NextFrame(frame)) {
                if (writer.Add(frame.TimeNs, frame.WireLength, frame.InterfaceIndex, frame.Protocol, frame.Data))
                    continue;
                // Full: this batch goes now, the frame starts the next.
                if (const TSent result = SendBatch(stream, writer.Finish(sent)); result != TSent::Ok)
                    return result == TSent::Gone ? 0 : 1;
                writer.Add(frame.TimeNs, frame.WireLength, frame.InterfaceIndex, frame.Protocol, frame.Data);
            }
            ring.ReleaseBlock();
            sent = ring.Counters();
            if (const TSent result = SendBatch(stream, writer.Finish(sent)); result != TSent::Ok)
                return result == TSent::Gone ? 0 : 1;
            any = true;
        }
        if (any) continue;
        const TCaptureCounters now = ring.Counters();
        if (now == sent) continue;
        sent = now;
        if (const TSent result = SendBatch(stream, writer.Finish(sent)); result != TSent::Ok)
            return result == TSent::Gone ? 0 : 1;
    }
}

TResult<TUniqueFd> StartCaptureForwarder(std::unique_ptr<TCaptureRing> ring, pid_t& forwarder) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return FailureFromErrno("making the capture stream");
    TUniqueFd program(ends[0]);
    TUniqueFd ours(ends[1]);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) return FailureFromErrno("starting the capture forwarder");
    if (child == 0) {
        // The helper's request socket, the program's end and anything else
        // the helper holds are closed first: the forwarder serves one
        // capture and nothing more.
        CloseAllBut(ring->Fd(), ours.Get());
        program.Release();
        prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (getppid() != parent) _exit(0);
        if (!KeepOnlyCapabilities(0)) _exit(1);
        // Nothing the program writes is ever read, nor even queued.
        if (shutdown(ours.Get(), SHUT_RD) != 0) _exit(1);
        setsockopt(ours.Get(), SOL_SOCKET, SO_SNDBUF, &kStreamSendBuffer, sizeof kStreamSendBuffer);
        _exit(ForwardCapture(*ring, ours.Get()));
    }
    forwarder = child;
    return program;
}

}  // namespace tarnwick

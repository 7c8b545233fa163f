#include "capture/capture_reader.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

namespace tarnwick {

std::optional<std::string> ReadCaptures(Tcap_ip& capture, const TCaptureLoop& loop) {
    std::vector<pollfd> watched;
    for (size_t i = 0; i < capture.Captures(); ++i) watched.push_back({capture.SelectableFd(i), POLLIN, 0});
    const size_t captures = watched.size();
    if (loop.WakeFd >= 0) watched.push_back({loop.WakeFd, POLLIN, 0});
    while (!loop.KeepGoing || loop.KeepGoing()) {
        if (std::all_of(watched.begin(), watched.begin() + static_cast<std::ptrdiff_t>(captures),
                        [](const pollfd& w) { return w.fd < 0; }))
            return "every capture has failed";
        const int waitMs = loop.WaitMs ? loop.WaitMs() : -1;
        if (::poll(watched.data(), watched.size(), waitMs) < 0) {
            if (errno == EINTR) continue;
            return std::string("poll: ") + std::strerror(errno);
        }
        for (size_t i = 0; i < captures; ++i) {
            const short events = watched[i].revents;
            if (events == 0) continue;
            capture.ReadPacket(i, loop.ReadBatch);
            if ((events & (POLLERR | POLLHUP | POLLNVAL)) && !(events & POLLIN)) watched[i].fd = -1;
        }
        if (loop.AfterRound) loop.AfterRound();
    }
    return std::nullopt;
}

TCaptureReader::TCaptureReader(Tcap_ip& capture, TWakeup& stop, TCaptureLoop loop, std::function<void()> onEnd)
    : Capture_(capture), StopWakeup_(stop) {
    StopWakeup_.Clear();
    loop.WakeFd = StopWakeup_.Fd();
    loop.KeepGoing = [this] { return !Stopping_.load(std::memory_order_relaxed); };
    Thread_ = std::thread(&TCaptureReader::Run, this, std::move(loop), std::move(onEnd));
}

TCaptureReader::~TCaptureReader() { Stop(); }

void TCaptureReader::Stop() {
    if (!Thread_.joinable()) return;
    Stopping_.store(true, std::memory_order_relaxed);
    StopWakeup_.Signal();
    Thread_.join();
}

void TCaptureReader::Run(TCaptureLoop loop, const std::function<void()>& onEnd) {
    // An exception must not leave the thread (that ends the program): it ends
    // the reading, and its text says why.
    try {
        Failure_ = ReadCaptures(Capture_, loop);
    } catch (const std::exception& e) {
        Failure_ = e.what();
    } catch (...) {
        Failure_ = "reading the captures failed";
    }
    if (onEnd) onEnd();
}

}  // namespace tarnwick

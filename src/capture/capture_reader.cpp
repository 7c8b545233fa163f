#include "capture/capture_reader.h"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "platform/descriptor_wait.h"

namespace tarnwick {

TStatus ReadCaptures(Tcap_ip& capture, const TCaptureLoop& loop) {
    std::vector<TWatchedFd> watched;
    for (size_t i = 0; i < capture.Captures(); ++i) watched.push_back({.Fd = capture.SelectableFd(i)});
    const auto captures = static_cast<std::ptrdiff_t>(watched.size());
    if (loop.WakeFd >= 0) watched.push_back({.Fd = loop.WakeFd});
    while (!loop.KeepGoing || loop.KeepGoing()) {
        if (std::all_of(watched.begin(), watched.begin() + captures, [](const TWatchedFd& w) { return w.Fd < 0; }))
            return TFailure{0, "every capture has failed"};
        const int waitMs = loop.WaitMs ? loop.WaitMs() : -1;
        if (TStatus waited = WaitForReadable(watched, waitMs); !waited) return waited;
        for (size_t i = 0; i < static_cast<size_t>(captures); ++i) {
            if (!watched[i].Ready) continue;
            capture.ReadPacket(i, loop.ReadBatch);
            if (watched[i].Broken) watched[i].Fd = -1;
        }
        if (loop.AfterRound) loop.AfterRound();
    }
    return {};
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

TStatus TCaptureReader::Outcome() const {
    if (Failure_) return *Failure_;
    return {};
}

void TCaptureReader::Run(TCaptureLoop loop, const std::function<void()>& onEnd) {
    // An exception must not leave the thread (that ends the program): it ends
    // the reading, and its text says why.
    try {
        if (TStatus read = ReadCaptures(Capture_, loop); !read) Failure_ = read.Failure();
    } catch (const std::exception& e) {
        Failure_ = TFailure{0, e.what()};
    } catch (...) {
        Failure_ = TFailure{0, "reading the captures failed"};
    }
    if (onEnd) onEnd();
}

}  // namespace tarnwick

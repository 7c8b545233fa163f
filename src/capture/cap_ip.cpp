#include "capture/cap_ip.h"

#include <utility>

namespace tarnwick {

Tcap_ip::Tcap_ip(TPacketSource& source) : Source_(source) {}

Tcap_ip::~Tcap_ip() { CloseCaptures(false); }

TStatus Tcap_ip::StartCapture() {
    if (Open_ || Reading_) return {};
    TResult<TPacketCaptures> captures = Source_.OpenCaptures([this](const TFailure& failure) { ReportError(failure); });
    if (!captures) return captures.Failure();  // nothing changes
    Initialized_ = true;
    Open_ = true;
    Captures_ = std::move(captures).Value();
    if (Captures_.empty()) ReportError(TFailure{0, kNoLocalAddressError});
    return {};
}

void Tcap_ip::PauseCapture() {
    if (!Initialized_ || Captures_.empty() || CloseRequested_) return;
    Paused_ = !Paused_;
}

void Tcap_ip::StopCapture() {
    Open_ = false;
    if (Reading_) {
        // The capture being read is still in use: close everything once the read returns.
        const bool tellOwner = !CloseRequested_ && !Captures_.empty();
        CloseRequested_ = true;  // before the owner's callback, which may throw
        if (tellOwner && OnClosing) OnClosing();
        return;
    }
    CloseCaptures(true);
}

void Tcap_ip::CloseCaptures(bool tellOwner) {
    if (Captures_.empty()) return;
    if (tellOwner && OnClosing) {
        try {
            OnClosing();
        } catch (...) {
            ReleaseCaptures();  // a failing owner still gets its stop
            throw;
        }
    }
    ReleaseCaptures();
}

void Tcap_ip::ReleaseCaptures() {
    // Out of the list first: should a capture's Stats throw, the rest are
    // closed by this vector's end, and none is left behind to be closed twice.
    TPacketCaptures closing = std::move(Captures_);
    Captures_.clear();
    for (auto& capture : closing) {
        const TCaptureStats stats = capture->Stats();
        ClosedStats_.Received += stats.Received;
        ClosedStats_.Dropped += stats.Dropped;
        capture.reset();  // closes its descriptor, the only place that does
    }
}

namespace {

// Marks a read in progress for as long as it lives, so the mark is gone on
// every way out of the read, an exception of the owner's handler included.
class TReadingMark {
public:
    explicit TReadingMark(bool& reading) : Reading_(reading) { Reading_ = true; }
    ~TReadingMark() { Reading_ = false; }
    TReadingMark(const TReadingMark&) = delete;
    TReadingMark& operator=(const TReadingMark&) = delete;

private:
    bool& Reading_;
};

}  // namespace

void Tcap_ip::ReadPacket(size_t index, int maxPackets) {
    if (Reading_ || CloseRequested_ || index >= Captures_.size()) return;
    TPacketCapture& capture = *Captures_[index];
    TStatus read;
    try {
        const TReadingMark reading(Reading_);
        read = capture.ReadPackets(
            [this, &capture](const uint8_t* bytes, size_t length, uint64_t timeNs) {
                // Paused: taken off the capture and dropped. Stopped meanwhile: dropped too.
                if (Paused_ || CloseRequested_ || !OnCap) return;
                auto packet = ParsePacket(capture.LocalAddress(), bytes, length);
                if (!packet) return;
                packet->Interface = capture.InterfaceName();
                packet->TimeNs = timeNs;
                OnCap(*packet);
            },
            maxPackets);
    } catch (...) {
        // A stop the handler asked for before it threw is carried out before
        // the exception goes on to the caller.
        CloseIfRequested();
        throw;
    }
    if (!read && !CloseRequested_) ReportError(read.Failure());
    CloseIfRequested();
}

void Tcap_ip::CloseIfRequested() {
    if (!CloseRequested_) return;
    CloseRequested_ = false;
    CloseCaptures(false);  // the owner was told when StopCapture ran
}

Tcap_ip::TState Tcap_ip::State() const {
    if (!Initialized_) return TState::Created;
    if (!Open_) return TState::Stopped;
    return Paused_ ? TState::Paused : TState::Capturing;
}

int Tcap_ip::SelectableFd(size_t index) const {
    return index < Captures_.size() ? Captures_[index]->SelectableFd() : -1;
}

const std::string& Tcap_ip::LocalAddress(size_t index) const {
    static const std::string none;
    return index < Captures_.size() ? Captures_[index]->LocalAddress() : none;
}

std::vector<std::string> Tcap_ip::InterfaceNames() const {
    std::vector<std::string> names;
    for (const auto& capture : Captures_) names.push_back(capture->InterfaceName());
    return names;
}

TCaptureStats Tcap_ip::Stats() const {
    TCaptureStats total = ClosedStats_;
    for (const auto& capture : Captures_) {
        const TCaptureStats stats = capture->Stats();
        total.Received += stats.Received;
        total.Dropped += stats.Dropped;
    }
    return total;
}

void Tcap_ip::ReportError(const TFailure& failure) const {
    if (OnError) OnError(failure);
}

}  // namespace tarnwick

#include "capture/cap_ip.h"

#include <utility>

namespace tarnwick {

Tcap_ip::Tcap_ip(TPacketSource& source) : Source_(source) {}

Tcap_ip::~Tcap_ip() { CloseCaptures(false); }

void Tcap_ip::StartCapture() {
    if (Open_ || Reading_) return;
    // Throws ESocketException when no capture is possible at all; nothing changes then.
    auto captures = Source_.OpenCaptures([this](const std::string& error) { ReportError(error); });
    Initialized_ = true;
    Open_ = true;
    Captures_ = std::move(captures);
    if (Captures_.empty()) ReportError(kNoLocalAddressError);
}

void Tcap_ip::PauseCapture() {
    if (!Initialized_ || Captures_.empty() || CloseRequested_) return;
    Paused_ = !Paused_;
}

void Tcap_ip::StopCapture() {
    Open_ = false;
    if (Reading_) {
        // The capture being read is still in use: close everything once the read returns.
        if (!CloseRequested_ && !Captures_.empty() && OnClosing) OnClosing();
        CloseRequested_ = true;
        return;
    }
    CloseCaptures(true);
}

void Tcap_ip::CloseCaptures(bool tellOwner) {
    if (Captures_.empty()) return;
    if (tellOwner && OnClosing) OnClosing();
    for (auto& capture : Captures_) {
        const TCaptureStats stats = capture->Stats();
        ClosedStats_.Received += stats.Received;
        ClosedStats_.Dropped += stats.Dropped;
        capture.reset();  // closes its descriptor, the only place that does
    }
    Captures_.clear();
}

void Tcap_ip::ReadPacket(size_t index, int maxPackets) {
    if (Reading_ || CloseRequested_ || index >= Captures_.size()) return;
    TPacketCapture& capture = *Captures_[index];
    Reading_ = true;
    const auto error = capture.ReadPackets(
        [this, &capture](const uint8_t* bytes, size_t length) {
            // Paused: taken off the capture and dropped. Stopped meanwhile: dropped too.
            if (Paused_ || CloseRequested_ || !OnCap) return;
            if (auto packet = ParsePacket(capture.LocalAddress(), bytes, length)) OnCap(*packet);
        },
        maxPackets);
    Reading_ = false;
    if (error && !CloseRequested_) ReportError(*error);
    if (CloseRequested_) {
        CloseRequested_ = false;
        CloseCaptures(false);  // the owner was told when StopCapture ran
    }
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

TCaptureStats Tcap_ip::Stats() const {
    TCaptureStats total = ClosedStats_;
    for (const auto& capture : Captures_) {
        const TCaptureStats stats = capture->Stats();
        total.Received += stats.Received;
        total.Dropped += stats.Dropped;
    }
    return total;
}

void Tcap_ip::ReportError(const std::string& error) const {
    if (OnError) OnError(error);
}

}  // namespace tarnwick

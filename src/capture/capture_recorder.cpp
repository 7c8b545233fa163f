#include "capture/capture_recorder.h"

#include <utility>

namespace tarnwick {

TCaptureRecorder::TCaptureRecorder(std::unique_ptr<TRecordFile> file, const std::vector<std::string>& interfaces,
                                   TPacketOwnerLookup owners)
    : File_(std::move(file)),
      Writer_(*File_),
      Owners_(std::move(owners)),
      LastFlush_(std::chrono::steady_clock::now()) {
    for (const std::string& name : interfaces) InterfaceOf(name);
}

TCaptureRecorder::~TCaptureRecorder() { (void)Finish(); }

uint32_t TCaptureRecorder::InterfaceOf(std::string_view name) {
    // Packets come in runs from one capture: the last one's is tried first.
    if (LastInterface_ < Interfaces_.size() && Interfaces_[LastInterface_] == name) return LastInterface_;
    for (uint32_t i = 0; i < Interfaces_.size(); ++i) {
        if (Interfaces_[i] == name) return LastInterface_ = i;
    }
    Interfaces_.emplace_back(name);
    return LastInterface_ = Writer_.AddInterface(name);
}

TStatus TCaptureRecorder::Record(const TCapturedPacket& packet) {
    if (Failed_) return {};
    const std::optional<std::string> owner = Owners_ ? Owners_(packet) : std::nullopt;
    const std::span<const uint8_t> whole(packet.Header, packet.HeaderSize + packet.DataSize);
    Writer_.AddPacket(InterfaceOf(packet.Interface), packet.TimeNs, whole, owner ? *owner : std::string_view());
    if (Writer_.Buffered() < kFlushSize) return {};
    return Flush();
}

TStatus TCaptureRecorder::FlushIfDue() {
    if (Failed_ || Writer_.Buffered() == 0 || std::chrono::steady_clock::now() - LastFlush_ < kFlushInterval)
        return {};
    return Flush();
}

TStatus TCaptureRecorder::Finish() {
    if (Failed_) return Writer_.Flush();  // says the failure again
    return Flush();
}

TStatus TCaptureRecorder::Flush() {
    LastFlush_ = std::chrono::steady_clock::now();
    TStatus flushed = Writer_.Flush();
    Failed_ = !flushed;
    return flushed;
}

}  // namespace tarnwick

#include "capture/capture_session.h"

#include <utility>

namespace tarnwick {

TCaptureSession::TCaptureSession(TPacketSource& source) : Capture_(source) {
    Capture_.OnCap = [this](const TCapturedPacket& packet) { ListPacket(packet); };
    // OnError stays unassigned: the errors of single interfaces and reads are
    // not shown; only a start that opens nothing at all is.
}

TCaptureStartResult TCaptureSession::Start(const TCaptureFilter& filter) {
    ClearList();
    Filter_ = filter;
    try {
        Capture_.StartCapture();
    } catch (const ESocketException& e) {
        return {false, e.what()};
    }
    if (State_ == TCaptureState::Idle) State_ = TCaptureState::Capturing;
    return {true, {}};
}

void TCaptureSession::Pause() {
    if (State_ != TCaptureState::Capturing) return;
    Capture_.PauseCapture();
    // Without any open capture there is nothing to pause.
    if (Capture_.Paused()) State_ = TCaptureState::Paused;
}

void TCaptureSession::Resume() {
    if (State_ != TCaptureState::Paused) return;
    Capture_.PauseCapture();
    if (!Capture_.Paused()) State_ = TCaptureState::Capturing;
}

void TCaptureSession::Stop() {
    // Idle whatever happens below: the component closes its captures even when it throws.
    State_ = TCaptureState::Idle;
    // The component keeps its pause across a stop; the next start must list.
    if (Capture_.Paused()) Capture_.PauseCapture();
    Capture_.StopCapture();
}

void TCaptureSession::ReadCapture(size_t index) { Capture_.ReadPacket(index, kReadBatch); }

void TCaptureSession::ListPacket(const TCapturedPacket& packet) {
    if (IsFilteredOut(Filter_, packet)) return;
    Records_.emplace_back(packet);
    ++ListedPackets_;
    if (Records_.size() == kPacketSlots) ClearList();
}

void TCaptureSession::ClearList() {
    if (!ClearUnannounced_) {
        ClearedRecords_ = std::move(Records_);
        ClearUnannounced_ = true;
    }
    Records_.clear();
}

std::string TCaptureSession::CellText(size_t row, size_t column) const {
    return row < Records_.size() ? Records_[row].Cell(column) : std::string();
}

std::string TCaptureSession::HexDump(size_t row) const {
    return row < Records_.size() ? Records_[row].HexDump() : std::string();
}

std::string TCaptureSession::TextDump(size_t row) const {
    return row < Records_.size() ? Records_[row].TextDump() : std::string();
}

TListChange TCaptureSession::TakeListChange() {
    TListChange change;
    change.Reset = ClearUnannounced_;
    change.First = ClearUnannounced_ ? 0 : AnnouncedRows_;
    change.Count = Records_.size() - change.First;
    AnnouncedRows_ = Records_.size();
    ClearUnannounced_ = false;
    ClearedRecords_.clear();
    return change;
}

const TPacketRecord* TCaptureSession::AnnouncedRecord(size_t row) const {
    const std::vector<TPacketRecord>& shown = ClearUnannounced_ ? ClearedRecords_ : Records_;
    return row < AnnouncedRows_ && row < shown.size() ? &shown[row] : nullptr;
}

}  // namespace tarnwick

#include "capture/capture_session.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <utility>

namespace tarnwick {

TCaptureSession::TCaptureSession(TPacketSource& source) : Capture_(source) {
    // On whichever thread reads: only what passes the filter goes on to the list.
    Capture_.OnCap = [this](const TCapturedPacket& packet) {
        if (!Filter_.Lists(packet) || !Program_.Lists(packet)) return;
        HandOver_.List(packet);
        if (!Recorder_) return;
        if (TStatus recorded = Recorder_->Record(packet); !recorded) KeepRecordingFailure(recorded.Failure());
    };
    Capture_.OnError = [this](const TFailure& failure) { KeepFailure(failure); };
}

TCaptureSession::~TCaptureSession() { StopReader(); }

TStatus TCaptureSession::Start(const TCaptureFilter& filter) {
    StopReader();
    TakeWaitingPackets();  // listed before this start: counted, then cleared with the rest
    EndRecording();
    ClearList();
    HandOver_.Reset();
    {
        const std::lock_guard lock(FailuresLock_);
        Failures_.clear();
        FailuresTaken_ = 0;
    }
    {
        const std::lock_guard lock(RecordingLock_);
        Recording_ = {};
    }
    Filter_ = TPacketFilter(filter);
    Program_ = filter.Program ? TProgramFilter(*filter.Program, Owners_) : TProgramFilter();
    if (TStatus started = Capture_.StartCapture(); !started) return started;
    try {
        StartReader();
    } catch (const std::system_error& e) {
        // Without its reading thread the capture would list nothing: not started.
        Stop();
        return TFailure{0, e.what()};
    }
    if (State_ == TCaptureState::Idle) State_ = TCaptureState::Capturing;
    return {};
}

void TCaptureSession::Pause() {
    if (State_ != TCaptureState::Capturing) return;
    // The component's pause is not for two threads: the reader stops for the change.
    StopReader();
    Capture_.PauseCapture();
    // Without any open capture there is nothing to pause.
    if (Capture_.Paused()) State_ = TCaptureState::Paused;
    RestartReader();
}

void TCaptureSession::Resume() {
    if (State_ != TCaptureState::Paused) return;
    StopReader();
    Capture_.PauseCapture();
    if (!Capture_.Paused()) State_ = TCaptureState::Capturing;
    RestartReader();
}

void TCaptureSession::RestartReader() {
    try {
        StartReader();
    } catch (const std::system_error&) {
        // No thread to read with (the system refused one): captures nobody
        // reads would only fill up, so the capture ends as a stop ends it.
        Stop();
    }
}

void TCaptureSession::Stop() {
    // Idle whatever happens below: the component closes its captures even when it throws.
    State_ = TCaptureState::Idle;
    StopReader();
    TakeWaitingPackets();
    EndRecording();
    // The component keeps its pause across a stop; the next start must list.
    if (Capture_.Paused()) Capture_.PauseCapture();
    Capture_.StopCapture();
}

TStatus TCaptureSession::StartRecording(std::unique_ptr<TRecordFile> file) {
    if (State_ != TCaptureState::Capturing) return TFailure{0, "recording needs a running capture"};
    if (Recorder_) return TFailure{0, "already recording to " + Recorder_->FileName()};
    // The recorder belongs to the reading thread: it is handed over while that thread stands.
    StopReader();
    TPacketOwnerLookup owners = PacketOwners_;
    if (!owners && Owners_) owners = TPacketOwnerText(Owners_);
    Recorder_ = std::make_unique<TCaptureRecorder>(std::move(file), Capture_.InterfaceNames(), std::move(owners));
    {
        const std::lock_guard lock(RecordingLock_);
        Recording_ = {Recorder_->FileName(), true, 0, std::nullopt};
    }
    RestartReader();
    return {};
}

std::string TCaptureSession::RecordingText(const TRecordingStatus& status) {
    if (status.File.empty()) return {};
    std::string failed;
    if (status.Failure)
        failed = status.Failure->Errno != 0 ? status.Failure->ErrnoText() : status.Failure->Text();
    if (status.Running) return "Recording to " + status.File + (status.Failure ? " failed: " + failed : "");
    return "Recorded " + std::to_string(status.Packets) + " packets to " + status.File +
           (status.Failure ? " before it failed: " + failed : "");
}

TCaptureSession::TRecordingStatus TCaptureSession::Recording() const {
    const std::lock_guard lock(RecordingLock_);
    return Recording_;
}

void TCaptureSession::FlushRecordingIfDue() {
    if (!Recorder_) return;
    if (TStatus flushed = Recorder_->FlushIfDue(); !flushed) KeepRecordingFailure(flushed.Failure());
}

void TCaptureSession::KeepRecordingFailure(const TFailure& failure) {
    {
        const std::lock_guard lock(RecordingLock_);
        Recording_.Failure = failure;
    }
    KeepFailure(failure);
}

void TCaptureSession::EndRecording() {
    if (!Recorder_) return;
    const TStatus finished = Recorder_->Finish();
    bool firstFailure = false;
    {
        const std::lock_guard lock(RecordingLock_);
        Recording_.Running = false;
        Recording_.Packets = Recorder_->PacketsRecorded();
        firstFailure = !finished && !Recording_.Failure;
        if (firstFailure) Recording_.Failure = finished.Failure();
    }
    Recorder_.reset();
    if (firstFailure) KeepFailure(finished.Failure());
}

void TCaptureSession::ReadInBackground() { Background_ = true; }

void TCaptureSession::StartReader() {
    if (!Background_ || Reader_ || Capture_.Captures() == 0) return;
    StatsTime_ = std::chrono::steady_clock::now();
    ReaderStats_ = Capture_.Stats();
    TCaptureLoop loop;
    loop.ReadBatch = kBackgroundReadBatch;
    // Packets the owner held up are offered again soon; the counters are
    // kept fresh while nothing arrives.
    loop.WaitMs = [this] {
        return HandOver_.HasUnoffered() ? 1 : static_cast<int>(kStatsInterval.count());
    };
    loop.AfterRound = [this] { AfterReadRound(false); };
    ReaderEnded_.store(false);
    Reader_ = std::make_unique<TCaptureReader>(Capture_, StopWakeup_, std::move(loop), [this] {
        AfterReadRound(true);
        // Also when asked to stop: the owner looks only while the thread should run.
        ReaderEnded_.store(true);
        BatchWakeup_.Signal();
    });
}

void TCaptureSession::StopReader() {
    if (!Reader_) return;
    Reader_->Stop();
    Reader_.reset();
}

void TCaptureSession::AfterReadRound(bool last) {
    FlushRecordingIfDue();
    // The last offer waits for the owner: nothing read may stay behind.
    if (HandOver_.Offer(last)) BatchWakeup_.Signal();
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - StatsTime_ < kStatsInterval) return;
    StatsTime_ = now;
    const TCaptureStats stats = Capture_.Stats();
    const std::lock_guard lock(StatsLock_);
    ReaderStats_ = stats;
}

void TCaptureSession::TakeWaitingPackets() {
    BatchWakeup_.Clear();  // before the take: a batch offered after it signals again
    const TListedRun& run = HandOver_.Take();
    if (run.Restart()) ClearList();
    for (size_t i = 0; i < run.Size(); ++i) Records_.push_back(run.Record(i));
    ListedPackets_ += run.Listed();
    // Its last packets were offered before it said it ended: all are taken now.
    if (Reader_ && ReaderEnded_.load()) EndFailedReader();
}

void TCaptureSession::EndFailedReader() {
    Reader_->Stop();  // joins the thread, which has ended
    const TStatus outcome = Reader_->Outcome();
    Reader_.reset();
    if (!outcome) KeepFailure(outcome.Failure());
    Stop();
}

void TCaptureSession::KeepFailure(const TFailure& failure) {
    // Enough for every interface to fail in its own way; a failure that
    // repeats is kept once.
    constexpr size_t kMaxFailures = 32;
    {
        const std::lock_guard lock(FailuresLock_);
        if (Failures_.size() == kMaxFailures ||
            std::find(Failures_.begin(), Failures_.end(), failure) != Failures_.end())
            return;
        Failures_.push_back(failure);
    }
    BatchWakeup_.Signal();
}

std::vector<TFailure> TCaptureSession::TakeFailures() {
    const std::lock_guard lock(FailuresLock_);
    std::vector<TFailure> taken(Failures_.begin() + static_cast<std::ptrdiff_t>(FailuresTaken_), Failures_.end());
    FailuresTaken_ = Failures_.size();
    return taken;
}

void TCaptureSession::ReadCapture(size_t index) {
    if (Reader_) return;
    // What was listed before an exception of the read is listed all the same.
    struct TApply {
        TCaptureSession& Session;
        ~TApply() {
            Session.FlushRecordingIfDue();
            Session.HandOver_.Offer(true);
            Session.TakeWaitingPackets();
        }
    } apply{*this};
    Capture_.ReadPacket(index, kReadBatch);
}

TCaptureStats TCaptureSession::Stats() const {
    if (!Reader_) return Capture_.Stats();
    const std::lock_guard lock(StatsLock_);
    return ReaderStats_;
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

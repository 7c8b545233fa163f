// TCaptureSession: a capture as the Data Capture window runs it, without the
// window. It owns the capture component, takes the filter at Start and keeps
// it until the next Start, and keeps the list of the packets that passed it.
//
// The list holds at most kPacketSlots - 1 packets: the packet that would fill
// the last slot is counted and the list starts afresh.
//
// Reading: either the owner reads, calling ReadCapture when a capture's
// descriptor (Captures, SelectableFd) polls readable, or, after
// ReadInBackground, a thread of the session's own reads from Start to Stop
// and hands the listed packets over in batches (TPacketHandOver): the owner
// watches BatchFd and calls TakeWaitingPackets when it polls readable. That
// thread never waits for the owner, and what waits for the owner is at most
// one list's worth of packets however long it takes.
//
// Failures of the capture (interfaces that cannot be opened or read, a
// reading thread that ended on its own) are kept for the owner, which takes
// them with TakeFailures; the same failure is kept once per Start. The owner
// is woken through BatchFd for them as for packets. A reading thread that
// ends on its own ends the capture: the session is Idle once the owner has
// taken the waiting packets.
//
// Recording: from StartRecording to Stop, every packet the list takes is
// also written to a pcapng file (TCaptureRecorder) by whichever thread reads;
// a file that fails ends the recording, and its failure is kept for the
// owner like the capture's.
//
// The views of the list are told of changes in batches: TakeListChange says
// what changed since it was last called, and until then AnnouncedRecord
// still gives the rows as they were announced, so a view never reads a row
// it was not told of.
//
// Every member is called on the owner's thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "capture/cap_ip.h"
#include "capture/capture_filter.h"
#include "capture/capture_reader.h"
#include "capture/capture_recorder.h"
#include "capture/capture_state.h"
#include "capture/packet_hand_over.h"
#include "capture/packet_owner.h"
#include "capture/packet_record.h"
#include "capture/program_filter.h"
#include "common/result.h"
#include "platform/packet_source.h"
#include "platform/pipe_wakeup.h"
#include "platform/record_file.h"

namespace tarnwick {

// What changed in the list since the views were last told.
struct TListChange {
    bool Reset = false;  // the list started afresh: the views forget every row
    size_t First = 0;    // the first row to add
    size_t Count = 0;    // rows to add from First on
};

class TCaptureSession {
public:
    static constexpr size_t kPacketSlots = 200;
    // Packets read per readiness of one capture when the owner reads, so its
    // event loop gets its turn under load.
    static constexpr int kReadBatch = 64;
    // The same on the session's thread: a busy capture does not keep the
    // others waiting long.
    static constexpr int kBackgroundReadBatch = 256;
    // How old the counters of Stats may be while the session's thread reads.
    static constexpr std::chrono::milliseconds kStatsInterval{100};

    explicit TCaptureSession(TPacketSource& source);
    // Stops the session's thread; the captures close with the component.
    ~TCaptureSession();
    TCaptureSession(const TCaptureSession&) = delete;
    TCaptureSession& operator=(const TCaptureSession&) = delete;

    // Where a filter's program finds the owners of sockets, from the next
    // Start on, and recordings name each packet's owner (unless
    // SetPacketOwners says otherwise): the owners the refreshes publish.
    // Without it a program's filter knows no socket and lists nothing.
    void SetOwners(std::shared_ptr<const TSocketOwnerFeed> owners) { Owners_ = std::move(owners); }
    const std::shared_ptr<const TSocketOwnerFeed>& Owners() const { return Owners_; }

    // Empties the list and its failures, lists from now on what `filter`
    // lets through, and opens the captures unless they are open. When no
    // capture can be opened at all the session stays Idle and fails. A start
    // on a machine with no interface to capture on succeeds, lists nothing
    // and keeps that failure.
    TStatus Start(const TCaptureFilter& filter);
    // Capturing to Paused, and back; in other states they do nothing.
    void Pause();
    void Resume();
    // Closes the captures, ends a pause and a recording; the list stays
    // until the next Start and takes the packets read before the stop.
    void Stop();

    // The recording since the last Start, if any.
    struct TRecordingStatus {
        std::string File;  // empty: none
        bool Running = false;
        uint64_t Packets = 0;  // in the file, once the recording ended
        std::optional<TFailure> Failure;
    };
    // From now until Stop, records every packet the list takes into `file`.
    // Only while Capturing and not yet recording: fails otherwise, leaving
    // the file as it is.
    TStatus StartRecording(std::unique_ptr<TRecordFile> file);
    // What the recording is doing, in words for a status line: "Recording to
    // FILE", "Recorded N packets to FILE", and why it failed, if it did;
    // empty when there is none.
    static std::string RecordingText(const TRecordingStatus& status);
    // How recordings from the next StartRecording on name the owner of each
    // packet's connection, in place of the owners of SetOwners; called on the
    // thread that reads.
    void SetPacketOwners(TPacketOwnerLookup owners) { PacketOwners_ = std::move(owners); }
    TRecordingStatus Recording() const;

    // From now on a thread of the session reads the captures while they are
    // open. Call before the first Start.
    void ReadInBackground();
    // Polls readable while packets read by the session's thread, or
    // failures, wait.
    int BatchFd() const { return BatchWakeup_.Fd(); }
    // Moves the waiting packets into the list; when the session's thread
    // ended on its own, stops the capture too.
    void TakeWaitingPackets();
    // The failures kept since the last call, oldest first.
    std::vector<TFailure> TakeFailures();

    TCaptureState State() const { return State_; }

    // The open captures.
    size_t Captures() const { return Capture_.Captures(); }
    int SelectableFd(size_t index) const { return Capture_.SelectableFd(index); }
    // Reads a batch of the packets waiting on capture `index` into the list;
    // does nothing when the session's thread reads. An exception thrown while
    // reading goes on to the caller; the packets listed before it stay, and
    // Stop and Start work as ever.
    void ReadCapture(size_t index);
    // Totals over every capture the session opened; while the session's
    // thread reads, as counted at most kStatsInterval ago.
    TCaptureStats Stats() const;

    size_t RecordCount() const { return Records_.size(); }
    // Cell `column` of list row `row`, and the dumps of its payload; empty
    // for a row beyond the list.
    std::string CellText(size_t row, size_t column) const;
    std::string HexDump(size_t row) const;
    std::string TextDump(size_t row) const;
    // Packets listed since the session was made, also those a fresh start removed.
    long long ListedPackets() const { return ListedPackets_; }

    // What changed since the last call; the list as it is now counts as announced.
    TListChange TakeListChange();
    bool HasListChange() const { return ClearUnannounced_ || Records_.size() != AnnouncedRows_; }
    bool HasUnannouncedClear() const { return ClearUnannounced_; }
    // Row `row` of the list as last announced; nullptr beyond it.
    const TPacketRecord* AnnouncedRecord(size_t row) const;

private:
    void ClearList();
    void StartReader();
    void StopReader();
    // StartReader after a pause or resume; stops the capture when it fails.
    void RestartReader();
    // On the session's thread: offers the packets listed, and counts afresh when due.
    void AfterReadRound(bool last);
    // On whichever thread reads: writes out what the recording buffered long enough.
    void FlushRecordingIfDue();
    // On whichever thread reads: the recording's file failed.
    void KeepRecordingFailure(const TFailure& failure);
    // Writes out the rest of the recording and ends it; the reader has stopped.
    void EndRecording();
    // On any thread: keeps `failure` for the owner and wakes it.
    void KeepFailure(const TFailure& failure);
    // The session's thread ended on its own: keeps why, and stops.
    void EndFailedReader();

    Tcap_ip Capture_;
    TPacketHandOver HandOver_{kPacketSlots};
    TPipeWakeup BatchWakeup_;
    TPipeWakeup StopWakeup_;  // ends the session's thread
    bool Background_ = false;
    std::unique_ptr<TCaptureReader> Reader_;  // while the session's thread runs
    mutable std::mutex StatsLock_;
    TCaptureStats ReaderStats_;  // guarded by StatsLock_
    std::chrono::steady_clock::time_point StatsTime_;  // the reader's
    // Set by the session's thread as it ends.
    std::atomic<bool> ReaderEnded_{false};
    std::mutex FailuresLock_;
    std::vector<TFailure> Failures_;  // since Start; guarded by FailuresLock_
    size_t FailuresTaken_ = 0;        // guarded by FailuresLock_
    TCaptureState State_ = TCaptureState::Idle;
    TPacketFilter Filter_;
    TProgramFilter Program_;  // read by the thread that reads, as Filter_
    std::shared_ptr<const TSocketOwnerFeed> Owners_;
    TPacketOwnerLookup PacketOwners_;
    // Set and ended only while no thread reads.
    std::unique_ptr<TCaptureRecorder> Recorder_;
    mutable std::mutex RecordingLock_;
    TRecordingStatus Recording_;  // guarded by RecordingLock_
    std::vector<TPacketRecord> Records_;
    // The list as the views were last told of it, kept from a clear until they hear of the clear.
    std::vector<TPacketRecord> ClearedRecords_;
    size_t AnnouncedRows_ = 0;  // rows of Records_ the views were told of
    bool ClearUnannounced_ = false;
    long long ListedPackets_ = 0;
};

}  // namespace tarnwick

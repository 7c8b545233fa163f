#include "cli_capture.h"

#include "cli_monitor.h"

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "capture/cap_ip.h"
#include "capture/capture_reader.h"
#include "capture/capture_filter.h"
#include "capture/capture_recorder.h"
#include "capture/packet_dump.h"
#include "capture/program_filter.h"
#include "common/text_util.h"
#include "cli_platform.h"
#include "platform/record_file.h"

namespace tarnwick {

namespace {

constexpr int kPollTimeoutMs = 100;  // how soon an interrupt is noticed
constexpr int kReadBatch = 64;

void PrintPacket(const TCapturedPacket& packet, bool dump, std::ostream& out) {
    const auto cells = PacketListCells(packet);
    for (size_t c = 0; c < cells.size(); ++c) out << (c > 0 ? "\t" : "") << EscapeForLine(cells[c]);
    out << '\n';
    if (!dump) return;
    // Dump lines hold no control bytes (their text part shows them as '.').
    for (const std::string& line : HexDumpLines({packet.Data, packet.DataSize})) out << line << '\n';
}

// Reads the tables every interval on a thread of its own while the capture
// reads packets, so that the owners of the sockets follow the programs. The
// monitor is its own from construction to destruction.
class TOwnerRefresher {
public:
    TOwnerRefresher(TCliMonitor& monitor, std::chrono::milliseconds interval, std::ostream& err)
        : Monitor_(monitor), Interval_(interval), Err_(err), Thread_([this] { Run(); }) {}
    ~TOwnerRefresher() {
        {
            const std::lock_guard lock(Mutex_);
            Stopping_ = true;
        }
        Wake_.notify_all();
        Thread_.join();
    }
    TOwnerRefresher(const TOwnerRefresher&) = delete;
    TOwnerRefresher& operator=(const TOwnerRefresher&) = delete;

private:
    void Run() {
        std::unique_lock lock(Mutex_);
        while (!Wake_.wait_for(lock, Interval_, [this] { return Stopping_; })) {
            lock.unlock();
            // Said in one piece, so that it does not break into the capture's own lines.
            std::ostringstream said;
            Monitor_.RefreshTables(said);
            if (!said.str().empty()) Err_ << said.str() << std::flush;
            lock.lock();
        }
    }

    TCliMonitor& Monitor_;
    const std::chrono::milliseconds Interval_;
    std::ostream& Err_;
    std::mutex Mutex_;
    std::condition_variable Wake_;
    bool Stopping_ = false;  // guarded by Mutex_
    std::thread Thread_;     // last: it runs once the rest is made
};

}  // namespace

int RunCapture(const TCaptureCliOptions& options, TPacketSource& source, std::ostream& out, std::ostream& err,
               const std::function<bool()>& interrupted, std::shared_ptr<const TSocketOwnerFeed> owners) {
    TCaptureFilter typed;
    typed.Protocol = options.Proto;
    typed.Addr1 = options.Addr1;
    typed.Addr2 = options.Addr2;
    typed.Port1 = std::to_string(options.Port1);
    typed.Port2 = std::to_string(options.Port2);
    const TPacketFilter filter(typed);
    TProgramFilter program = options.Program ? TProgramFilter(*options.Program, owners) : TProgramFilter();

    Tcap_ip capture(source);
    std::unique_ptr<TCaptureRecorder> recorder;
    // Standard output carries the recording: the packet lines go nowhere.
    const bool printLines = options.Write != "-";
    int status = 0;
    bool recordingFailed = false;
    long long listed = 0;
    bool done = options.Count && *options.Count <= 0;
    const auto say = [&err](const TFailure& failure) { err << "tarnwick-cli: " << failure.Text() << '\n'; };
    // A recording that fails ends the capture.
    const auto recorded = [&](const TStatus& outcome) {
        if (outcome) return;
        say(outcome.Failure());
        status = 1;
        recordingFailed = true;
        done = true;
    };
    capture.OnCap = [&](const TCapturedPacket& packet) {
        if (done || !filter.Lists(packet) || !program.Lists(packet)) return;
        if (printLines) PrintPacket(packet, options.Dump, out);
        if (recorder) recorded(recorder->Record(packet));
        ++listed;
        if (options.Count && listed >= *options.Count) done = true;
    };
    capture.OnError = say;
    if (const TStatus started = capture.StartCapture(); !started) {
        say(started.Failure());
        return 1;
    }

    // Without a single open capture nothing can ever arrive: say so and end
    // (a fresh network namespace has no up interface with an address).
    if (capture.Captures() == 0) {
        err << "tarnwick-cli: no capture could be opened: no up interface with an IP address\n";
        return 1;
    }
    if (options.Write) {
        TResult<std::unique_ptr<TRecordFile>> file =
            *options.Write == "-" ? StandardOutputRecordFile() : CreateRecordFile(*options.Write);
        if (!file) {
            say(file.Failure());
            return 1;
        }
        recorder = std::make_unique<TCaptureRecorder>(std::move(file).Value(), capture.InterfaceNames(),
                                                      owners ? TPacketOwnerLookup(TPacketOwnerText(owners)) : nullptr);
    }
    TCaptureLoop loop;
    loop.ReadBatch = kReadBatch;
    loop.KeepGoing = [&] { return !done && !interrupted(); };
    loop.WaitMs = [] { return kPollTimeoutMs; };
    loop.AfterRound = [&] {
        out.flush();
        if (recorder) recorded(recorder->FlushIfDue());
    };
    if (const TStatus read = ReadCaptures(capture, loop); !read) {
        say(read.Failure());
        status = 1;
    }
    out.flush();
    const TCaptureStats stats = capture.Stats();
    capture.StopCapture();
    err << "received " << stats.Received << ", dropped " << stats.Dropped << '\n';
    if (recorder) {
        // A failure said already is not said again.
        if (const TStatus finished = recorder->Finish(); !recordingFailed) recorded(finished);
        err << "recorded " << recorder->PacketsRecorded() << " packets to " << recorder->FileName() << '\n';
    }
    return status;
}

int RunCaptureCommand(const TCaptureCliOptions& options) {
    TInterruptWait interrupt;  // first: Ctrl-C and SIGTERM end the capture instead of the process
    const auto interrupted = [&interrupt] { return interrupt.WaitForInterrupt(std::chrono::milliseconds(0)); };
    NoteCaptureLimits(std::cerr);
    if (!options.Program && !options.Write) {
        TCliCaptureServices services;
        return RunCapture(options, services.Packets(), std::cout, std::cerr, interrupted);
    }

    // Only the owners of the sockets are wanted of each refresh (for the
    // program's packets and the recording's comments): no connection list,
    // no rows, no host names.
    if (!TablesBindable(std::cerr)) return 1;
    TCliMonitor monitor;
    TMonitorSession& session = monitor.Session;
    session.Refresh.TrackConnections = false;
    session.Refresh.MapOwners = true;
    session.View.ShowTcp = false;
    session.View.ShowUdp = false;
    session.Log.KeepEntries = false;
    monitor.Grid.KeepNoRows();
    // On this thread, which lives as long as the capture: the helper, when
    // one is needed, is started here and serves the captures as well.
    if (!monitor.RefreshTables(std::cerr)) return 1;
    const auto owners = session.Refresh.Owners();
    if (options.Program && owners->Latest()->SocketsOf(*options.Program) == 0)
        std::cerr << "tarnwick-cli: no socket of " << EscapeForLine(options.Program->Text())
                  << " yet; its packets are listed from the reading of the tables that finds one\n";
    const TOwnerRefresher refresher(
        monitor, std::chrono::milliseconds(static_cast<long long>(options.IntervalSeconds * 1000.0)), std::cerr);
    return RunCapture(options, monitor.Services.Packets(), std::cout, std::cerr, interrupted, owners);
}

}  // namespace tarnwick

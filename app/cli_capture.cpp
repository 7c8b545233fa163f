#include "cli_capture.h"

#include <chrono>
#include <iostream>
#include <string>

#include "capture/cap_ip.h"
#include "capture/capture_reader.h"
#include "capture/capture_filter.h"
#include "capture/packet_dump.h"
#include "common/text_util.h"
#include "cli_platform.h"

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

}  // namespace

int RunCapture(const TCaptureCliOptions& options, TPacketSource& source, std::ostream& out, std::ostream& err,
               const std::function<bool()>& interrupted) {
    TCaptureFilter typed;
    typed.Protocol = options.Proto;
    typed.Addr1 = options.Addr1;
    typed.Addr2 = options.Addr2;
    typed.Port1 = std::to_string(options.Port1);
    typed.Port2 = std::to_string(options.Port2);
    const TPacketFilter filter(typed);

    Tcap_ip capture(source);
    long long listed = 0;
    bool done = options.Count && *options.Count <= 0;
    capture.OnCap = [&](const TCapturedPacket& packet) {
        if (done || !filter.Lists(packet)) return;
        PrintPacket(packet, options.Dump, out);
        ++listed;
        if (options.Count && listed >= *options.Count) done = true;
    };
    const auto say = [&err](const TFailure& failure) { err << "tarnwick-cli: " << failure.Text() << '\n'; };
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
    TCaptureLoop loop;
    loop.ReadBatch = kReadBatch;
    loop.KeepGoing = [&] { return !done && !interrupted(); };
    loop.WaitMs = [] { return kPollTimeoutMs; };
    loop.AfterRound = [&out] { out.flush(); };
    int status = 0;
    if (const TStatus read = ReadCaptures(capture, loop); !read) {
        say(read.Failure());
        status = 1;
    }
    out.flush();
    const TCaptureStats stats = capture.Stats();
    capture.StopCapture();
    err << "received " << stats.Received << ", dropped " << stats.Dropped << '\n';
    return status;
}

int RunCaptureCommand(const TCaptureCliOptions& options) {
    TInterruptWait interrupt;  // first: Ctrl-C and SIGTERM end the capture instead of the process
    TCliCaptureServices services;
    NoteCaptureLimits(std::cerr);
    return RunCapture(options, services.Packets(), std::cout, std::cerr,
                      [&interrupt] { return interrupt.WaitForInterrupt(std::chrono::milliseconds(0)); });
}

}  // namespace tarnwick

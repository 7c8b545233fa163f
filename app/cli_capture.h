// `tarnwick-cli capture`: the capture window's list on standard output, and
// a recording of it.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <memory>
#include <string>

#include "monitor/socket_owner_feed.h"
#include "capture/packet_owner.h"

namespace tarnwick {

class TPacketSource;

struct TCaptureCliOptions {
    std::string Addr1 = "0.0.0.0", Addr2 = "0.0.0.0";
    int Port1 = 0, Port2 = 0;
    std::string Proto;
    std::optional<long long> Count;  // listed packets to print; none = until interrupted
    bool Dump = false;               // each packet's hex dump lines after it
    // Only the packets of this program's sockets, read every IntervalSeconds.
    std::optional<TProgramSelector> Program;
    double IntervalSeconds = 3.0;
    // --write FILE: the listed packets recorded into a pcapng file; "-" is
    // standard output, which then gets no packet lines.
    std::optional<std::string> Write;
};

// Captures on every interface with the window's filter and prints one line
// per listed packet: the seven cells of the packet list, tab-separated, the
// Data cell escaped for one line (EscapeForLine); with Dump, the hex dump
// lines follow. Ends after Count listed packets or on SIGINT/SIGTERM, then
// prints the packets received and dropped to standard error. With Write,
// every listed packet is recorded too, and "recorded N packets to FILE"
// follows on standard error; a file that fails ends the capture with its
// failure, what it holds readable to its last whole packet. Returns the exit
// status: 1 when no capture could be started or the recording failed.
//
// With a Program, a packet is listed only when it also has one of the
// program's sockets at either end, by the tables read before the capture
// starts and then every IntervalSeconds on a thread of their own. A program
// without any socket in the first reading is said on standard error, and the
// capture goes on: its packets are listed from the reading that finds one.
// A reading that fails is said, and the sockets of the last good one stand.
// A recording reads the tables the same way, to name each packet's owner.
int RunCaptureCommand(const TCaptureCliOptions& options);

// The same over `source`, printing to `out` and `err`; `interrupted` is
// asked between waits whether to end. A Program's sockets, and the owner of
// each recorded packet's connection (its comment), come from `owners`.
int RunCapture(const TCaptureCliOptions& options, TPacketSource& source, std::ostream& out, std::ostream& err,
               const std::function<bool()>& interrupted,
               std::shared_ptr<const TSocketOwnerFeed> owners = nullptr);

}  // namespace tarnwick

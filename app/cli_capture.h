// `tarnwick-cli capture`: the capture window's list on standard output, and
// a recording of it.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "capture/packet_owner.h"

namespace tarnwick {

class TPacketSource;

struct TCaptureCliOptions {
    std::string Addr1 = "0.0.0.0", Addr2 = "0.0.0.0";
    int Port1 = 0, Port2 = 0;
    std::string Proto;
    std::optional<long long> Count;  // listed packets to print; none = until interrupted
    bool Dump = false;               // each packet's hex dump lines after it
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
int RunCaptureCommand(const TCaptureCliOptions& options);

// The same over `source`, printing to `out` and `err`; `interrupted` is
// asked between waits whether to end. `owners` names the owner of each
// recorded packet's connection, as its comment.
int RunCapture(const TCaptureCliOptions& options, TPacketSource& source, std::ostream& out, std::ostream& err,
               const std::function<bool()>& interrupted, const TPacketOwnerLookup& owners = {});

}  // namespace tarnwick

// `tarnwick-cli capture`: the capture window's list on standard output.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace tarnwick {

class TPacketSource;

struct TCaptureCliOptions {
    std::string Addr1 = "0.0.0.0", Addr2 = "0.0.0.0";
    int Port1 = 0, Port2 = 0;
    std::string Proto;
    std::optional<long long> Count;  // listed packets to print; none = until interrupted
    bool Dump = false;               // each packet's hex dump lines after it
};

// Captures on every interface with the window's filter and prints one line
// per listed packet: the seven cells of the packet list, tab-separated, the
// Data cell escaped for one line (EscapeForLine); with Dump, the hex dump
// lines follow. Ends after Count listed packets or on SIGINT/SIGTERM, then
// prints the packets received and dropped to standard error. Returns the exit
// status: 1 when no capture could be started.
int RunCaptureCommand(const TCaptureCliOptions& options);

// The same over `source`, printing to `out` and `err`; `interrupted` is
// asked between waits whether to end.
int RunCapture(const TCaptureCliOptions& options, TPacketSource& source, std::ostream& out, std::ostream& err,
               const std::function<bool()>& interrupted);

}  // namespace tarnwick

// Command line of tarnwick-cli: subcommand and options, or a usage error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli_capture.h"
#include "common/inet_address.h"
#include "common/result.h"

namespace tarnwick {

struct TCliOptions {
    enum class TCommand { Table, Watch, Top, Rules, Kill, Capture, Report, Info, Locate, Help };
    TCommand Command = TCommand::Help;
    // table
    bool ShowTcp = true;
    bool ShowUdp = true;
    bool ShowShortNames = true;
    bool ShowIpv6 = true;  // table and watch: rows of IPv6 sockets other than IPv4-mapped ones
    bool ShowTraffic = false;  // table --traffic: the four traffic columns
    bool ShowLocation = false;  // table --location: the Country and Network columns
    // watch and top
    double IntervalSeconds = 3.0;
    std::optional<long long> Count;  // refreshes to run; none = until interrupted
    std::string RulesFile;           // watch --rules, and the file of `rules`
    bool EnableRules = false;
    bool Stats = false;  // watch --stats: each refresh's time on standard error
    // Where the log entries go: tab-separated lines, JSON lines (both on
    // standard output), or the systemd journal instead of standard output.
    enum class TWatchOutput { Lines, Json, Journal };
    TWatchOutput WatchOutput = TWatchOutput::Lines;
    // kill: RemoteAddr is the address as the table writes it (dotted IPv4
    // without leading zeros, or IPv6 in the RFC 5952 form with the zone of a
    // link-local one); RemoteAddr6 is set for an IPv6 address, and
    // RemoteInterface for a link-local one written with its zone.
    uint16_t LocalPort = 0;
    std::string RemoteAddr;
    std::optional<TIp6Address> RemoteAddr6;
    uint32_t RemoteInterface = 0;
    uint16_t RemotePort = 0;
    // capture
    TCaptureCliOptions Capture;
    // info
    uint32_t Pid = 0;
    // locate: the addresses as given, read by the command itself so that a
    // malformed one does not keep the others from being located
    std::vector<std::string> LocateAddresses;
    // report
    enum class TReportKind { Table, Log };
    TReportKind ReportKind = TReportKind::Table;
    std::string ReportFile;
    double WatchSeconds = 0;  // report log: how long to watch; 0 = one refresh
};

// Parses the arguments after the program name; fails on a usage error,
// saying what was wrong.
TResult<TCliOptions> ParseCliOptions(const std::vector<std::string>& args);

// The usage text printed with usage errors and for --help.
const char* CliUsage();

}  // namespace tarnwick

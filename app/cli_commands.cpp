#include "cli_commands.h"

#include "cli_monitor.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <system_error>
#include <thread>

#include "platform/program_environment.h"
#include "common/inet_address.h"
#include "common/text_util.h"
#include "log/event_log.h"
#include "log/log_auto_save.h"
#include "log/log_outputs.h"
#include "monitor/grid_rows.h"
#include "monitor/refresh.h"
#include "monitor/tcp_state_names.h"
#include "monitor/traffic_monitor.h"
#include "monitor/traffic_texts.h"
#include "rules/connection_kill.h"
#include "rules/rule_items.h"

namespace tarnwick {

namespace {

// How long `table --traffic` measures its rates over.
constexpr std::chrono::seconds kTableRateSample{1};

// Loads a rules file; a missing one is an error here, where the user named it.
// Anything else there that is no readable file (a folder, a FIFO) is refused
// by the load itself, with its reason.
bool LoadRules(const std::string& path, TRuleItems& rules) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        std::cerr << "tarnwick-cli: " << path << ": no such file\n";
        return false;
    }
    rules.LoadFromFile(path);
    return true;
}

}  // namespace

int RunTableCommand(const TCliOptions& options) {
    if (options.ShowLocation && *kNoLocationDatabase != '\0') {
        std::cerr << "tarnwick-cli: table --location is not available here: " << kNoLocationDatabase << '\n';
        return 1;
    }
    TCliMonitor monitor;
    TMonitorSession& session = monitor.Session;
    session.View.ShowTcp = options.ShowTcp;
    session.View.ShowUdp = options.ShowUdp;
    session.View.ShowShortNames = options.ShowShortNames;
    monitor.IncludeIpv6(options.ShowIpv6);
    session.ShowTraffic(TTrafficViewer::Output, options.ShowTraffic);
    if (options.ShowLocation) monitor.LocateRemotes();
    if (!options.ShowTraffic) {
        // One look, printed: no connection list, no events, rows kept as text.
        session.Refresh.TrackConnections = false;
        session.Log.KeepEntries = false;
        monitor.Grid.KeepTextOnly(options.ShowLocation);
        if (!TablesBindable(std::cerr) || !monitor.RefreshTables(std::cerr)) return 1;
        monitor.NoteLocationDatabase(std::cerr);
        std::cout << monitor.Grid.Text() << std::flush;
        return 0;
    }
    if (!TablesBindable(std::cerr) || !monitor.RefreshTables(std::cerr)) return 1;
    // Rates need a reading before: the table is read again a second later.
    std::this_thread::sleep_for(kTableRateSample);
    if (!monitor.RefreshTables(std::cerr)) return 1;
    monitor.NoteLocationDatabase(std::cerr);
    std::cout << monitor.Grid.Rows.ToText(TTrafficNumbers::Raw, options.ShowLocation) << std::flush;
    return 0;
}

int RunTopCommand(const TCliOptions& options) {
    TInterruptWait interrupt;  // before any thread starts, so that all of them leave the signals to us
    if (!TablesBindable(std::cerr)) return 1;
    TCliMonitor monitor;
    monitor.Session.ShowTraffic(TTrafficViewer::Output, true);
    if (!monitor.RefreshTables(std::cerr)) return 1;  // the reading the first rates start from
    const auto interval = std::chrono::milliseconds(static_cast<long long>(options.IntervalSeconds * 1000.0));
    for (long long done = 0; !options.Count || done < *options.Count; ++done) {
        if (interrupt.WaitForInterrupt(interval)) break;
        if (!monitor.RefreshTables(std::cerr)) return 1;
        monitor.Session.Log.Clear();  // events are not shown here; the log need not grow
        std::cout << "Process\tConnections\tSend Rate\tReceive Rate\tSent\tReceived\n";
        if (const auto summary = monitor.Session.Refresh.Traffic.Latest()) {
            for (const TProgramTraffic& p : summary->Programs) {
                std::cout << EscapeForLine(p.Name) << '\t' << p.Connections << '\t' << std::llround(p.SendRate)
                          << '\t' << std::llround(p.ReceiveRate) << '\t' << p.BytesSent << '\t' << p.BytesReceived
                          << '\n';
            }
        }
        std::cout << std::flush;
    }
    return 0;
}

int RunWatchCommand(const TCliOptions& options) {
    TInterruptWait interrupt;  // before any thread starts, so that all of them leave the signals to us
    if (!TablesBindable(std::cerr)) return 1;
    TCliMonitor monitor(true, options.ShowIpv6);
    TMonitorSession& session = monitor.Session;
    monitor.IncludeIpv6(options.ShowIpv6);
    session.ShowTraffic(TTrafficViewer::Output, options.WatchOutput == TCliOptions::TWatchOutput::Json);
    // The structured outputs carry where each remote address is.
    if (options.WatchOutput != TCliOptions::TWatchOutput::Lines) monitor.LocateRemotes();
    // Every entry is written out as it comes; neither the entries nor the
    // grid's rows need keeping.
    session.Log.KeepEntries = false;
    monitor.Grid.KeepNoRows();
    // --enable-rules without --rules takes the rules file the window keeps.
    const std::string rulesFile =
        options.RulesFile.empty() && options.EnableRules
            ? RulesFilePath(ResolveSettingsLocation(ExecutableDirectory()).SettingsDir)
            : options.RulesFile;
    if (!rulesFile.empty() && !LoadRules(rulesFile, session.Rules)) return 1;
    // No windows here: a popup action only writes its log line.
    session.EnableRules(options.EnableRules);
    TCliJournal journal;
    std::optional<std::string> journalError;  // why the journal cannot be written, in words for the user
    const auto journalFailed = [&journalError] {
        if (!journalError) return false;
        std::cerr << "tarnwick-cli: the journal cannot be written: " << *journalError << '\n';
        return true;
    };
    if (options.WatchOutput == TCliOptions::TWatchOutput::Journal) {
        if (const TStatus available = journal.Available(); !available) {
            const TFailure& failure = available.Failure();
            journalError = failure.Text() + (failure.Errno != 0 ? " (no systemd journal runs here)" : "");
        }
        if (journalFailed()) return 1;
    }
    switch (options.WatchOutput) {
        case TCliOptions::TWatchOutput::Lines:
            session.Log.OnAdded = [](const TLogEntry& entry) {
                std::cout << static_cast<int>(entry.Kind) << '\t' << EscapeForLine(entry.Line) << '\n';
            };
            break;
        case TCliOptions::TWatchOutput::Json:
            session.Log.OnAdded = [](const TLogEntry& entry) { std::cout << LogEntryJson(entry) << '\n'; };
            break;
        case TCliOptions::TWatchOutput::Journal:
            // An entry the journal refuses ends the watch after its refresh:
            // a watcher that loses events quietly is worse than one that stops.
            session.Log.OnAdded = [&journal, &journalError](const TLogEntry& entry) {
                if (journalError) return;
                if (const TStatus sent = journal.SendEntry(LogEntryJournalFields(entry)); !sent)
                    journalError = sent.Failure().ErrnoText();
            };
            break;
    }

    const auto interval = std::chrono::milliseconds(static_cast<long long>(options.IntervalSeconds * 1000.0));
    for (long long done = 0; !options.Count || done < *options.Count; ++done) {
        // A rule closed a connection: show it gone without waiting.
        const bool refreshNow = session.TakeRefreshAsked();
        if (done > 0 && interrupt.WaitForInterrupt(refreshNow ? std::chrono::milliseconds(0) : interval)) break;
        const auto started = std::chrono::steady_clock::now();
        if (!monitor.RefreshTables(std::cerr)) {
            std::cout << std::flush;
            return 1;
        }
        std::cout << std::flush;
        monitor.NoteLocationDatabase(std::cerr);
        if (options.Stats) {
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started;
            std::fprintf(stderr, "refresh %lld: %.1f ms\n", done + 1, took.count());
        }
        if (journalFailed()) return 1;
        if (interrupt.WaitForInterrupt(std::chrono::milliseconds(0))) break;
    }
    return 0;
}

int RunRulesCommand(const TCliOptions& options) {
    TRuleItems rules;
    if (!LoadRules(options.RulesFile, rules)) return 1;
    for (int i = 0; i < rules.Count(); ++i) {
        const TRuleItem& r = rules.Items(i);
        // In the order of the rule's keys in the file.
        const std::string fields[] = {EscapeForLine(r.RulesName),   r.EnabledRules ? "1" : "0",
                                      r.EnIPFilter ? "1" : "0",       r.EnLocalPortFilter ? "1" : "0",
                                      r.EnRemotePortFilter ? "1" : "0", r.EnRunAction ? "1" : "0",
                                      r.EnWavAction ? "1" : "0",      r.EnKillAction ? "1" : "0",
                                      r.EnPopupAction ? "1" : "0",    EscapeForLine(r.IPFilter),
                                      std::to_string(r.LocalPortFilter), std::to_string(r.RemotePortFilter),
                                      EscapeForLine(r.RunAction),     EscapeForLine(r.WavAction),
                                      EscapeForLine(r.PopupMsg)};
        for (size_t f = 0; f < std::size(fields); ++f) std::cout << (f ? "\t" : "") << fields[f];
        std::cout << '\n';
    }
    return 0;
}

int RunKillCommand(const TCliOptions& options) {
    if (!TablesBindable(std::cerr)) return 1;
    TCliMonitor monitor;
    if (const TStatus available = monitor.Services.KillAvailable(); !available) {
        std::cerr << "tarnwick-cli: " << KillFailureReason(available.Failure()) << '\n';
        return 1;
    }
    if (!monitor.RefreshTables(std::cerr)) return 1;
    // Entries that differ only in their local address (and, for IPv6, the
    // interface) are one connection here, since the command names none; an
    // established one is taken first.
    TConnectionKey key{true, std::nullopt, options.LocalPort, {}, options.RemotePort};
    if (options.RemoteAddr6) {
        key.RemoteAddr = TInetAddress::Ipv6(*options.RemoteAddr6);
        key.Interface = options.RemoteInterface;
    } else {
        // Dotted without leading zeros: read exactly.
        key.RemoteAddr = TInetAddress::FromIpv4Field(InetAddr(options.RemoteAddr));
    }
    const auto found = monitor.Session.Snapshot.FindConnection(key);
    if (!found) {
        const std::string remote = options.RemoteAddr6 ? "[" + options.RemoteAddr + "]" : options.RemoteAddr;
        std::cout << "No TCP connection from local port " << options.LocalPort << " to " << remote << ":"
                  << options.RemotePort << "\n";
        return 1;
    }
    const TKillResult result = KillConnection(found->TcpRow, monitor.Services.Killer());
    if (result.Outcome != TKillOutcome::Killed) {
        std::cout << result.Message() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace tarnwick

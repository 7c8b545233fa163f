// Cost of one refresh over fake tables of 10,000 and 100,000 established TCP
// rows: row texts, change detection and grid rows, without any system calls.
//
//   BM_RefreshKnownRows: every row is already known from the refresh before,
//                        the common case of a refresh every few seconds;
//   BM_RefreshNewRows:   every row is new (the first refresh, or a table that
//                        was replaced as a whole), each one logged.
//   BM_LocationColumns:  what the location columns add to BM_RefreshKnownRows,
//                        every address already located (the cache warm), 300
//                        networks among them: two sessions over the same
//                        host, one showing them, refreshed in turn, so that
//                        whatever else the machine does weighs on both alike.
//                        Reported as the median times of each and the cost.
//
//   BM_OwnerMap:         the owners of the sockets that a refresh publishes
//                        for captures (TRefresh::MapOwners), made alone;
//   BM_PacketOwner:      the owner of one packet of those connections, as
//                        the capture asks it for every packet it judges.
//
// The cost per row must not grow with the table: after the runs the program
// compares the time at 100,000 rows with the time at 10,000 and fails (exit
// status 1) when it is more than kMaxGrowth times as much. Nor may the
// location columns cost more than kMaxLocationCost of a refresh of 50,000
// known rows.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/packet_owner.h"
#include "fakes/fake_platform.h"
#include "monitor/connection_items.h"
#include "monitor/connection_snapshot.h"
#include "monitor/grid_rows.h"
#include "monitor/location_cache.h"
#include "monitor/refresh.h"
#include "monitor/view_settings.h"

namespace tarnwick::bench {

using tarnwick::testing::TcpRow;
using tarnwick::testing::TFakeIpTables;
using tarnwick::testing::TFakeLocationDatabase;
using tarnwick::testing::TFakeNameLookup;
using tarnwick::testing::TFakeProcessList;

constexpr uint32_t kProcesses = 300;
constexpr uint32_t kFirstPid = 1000;
constexpr uint32_t kNamedHosts = 1000;
constexpr double kMaxGrowth = 12.0;
constexpr int64_t kSmall = 10000;
constexpr int64_t kLarge = 100000;
constexpr int64_t kLocated = 50000;
constexpr double kMaxLocationCost = 0.10;
constexpr uint32_t kNetworks = 300;

// What the command-line tool does with the results, minus the printing: the
// grid rows are written into a TGridRows, log entries and rule checks counted.
class TBenchOutlets final : public TRefreshOutlets {
public:
    TGridRows Grid;
    size_t Logs = 0;
    size_t LogBytes = 0;
    size_t RuleChecks = 0;

    int GridRowCount() override { return Grid.RowCount(); }
    void SetGridRowCount(int rows) override { Grid.SetRowCount(rows); }
    void WriteGridRow(int row, const TConnectionRow& texts) override { Grid.WriteRow(row, texts); }
    void AddLog(const std::string& text, LogKind, const std::optional<TLogConnection>&) override {
        ++Logs;
        LogBytes += text.size();
    }
    void CheckRules(int, const TLogConnection&) override { ++RuleChecks; }
};

// A busy host: half the rows are clients of its services, half are its own
// connections out to port 443. Every row has its own remote address, a
// thousand of them with a host name; the owners are a few hundred processes.
struct TFakeHost {
    TFakeIpTables Tables;
    TFakeProcessList Processes;
    TFakeNameLookup Names;
    TFakeLocationDatabase Locations;  // every remote address in one of kNetworks networks

    explicit TFakeHost(int64_t rows) {
        static constexpr uint16_t kServicePorts[] = {22, 80, 443, 8080};
        const TInetAddress local = TInetAddress::Ipv4(10, 0, 0, 1);
        Names.Computer = "BenchHost";
        Names.Services[22] = {"ssh", "tcp"};
        Names.Services[80] = {"http", "tcp"};
        Names.Services[443] = {"https", "tcp"};
        Tables.TcpRows.reserve(static_cast<size_t>(rows));
        for (int64_t n = 0; n < rows; ++n) {
            const auto i = static_cast<uint32_t>(n);
            const TInetAddress remote = TInetAddress::Ipv4(static_cast<uint8_t>(11 + (i >> 16)),
                                                           static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 7);
            const uint32_t pid = kFirstPid + i % kProcesses;
            if (i % 2 == 0) {
                Tables.TcpRows.push_back(
                    TcpRow(TTcpState::Established, local, kServicePorts[(i / 2) % 4], remote,
                           static_cast<uint16_t>(1024 + (i * 7) % 60000), pid));
            } else {
                Tables.TcpRows.push_back(
                    TcpRow(TTcpState::Established, local, static_cast<uint16_t>(32768 + i % 28000), remote, 443, pid));
            }
            // A fixed number of named peers whatever the table's size, so that
            // the fake's own lookups (a std::map) cost the same per row.
            if (i % 4 == 1 && i < 4 * kNamedHosts)
                Names.Hosts[remote.Ipv4Field()] = "host-" + std::to_string(i) + ".bench.example";
            const uint32_t network = i % kNetworks;
            Locations.Set(remote, {"C" + std::to_string(network % 26), "Country " + std::to_string(network % 26),
                                   64512 + network, "Network number " + std::to_string(network) + " of the bench"});
        }
        for (uint32_t p = 0; p < kProcesses; ++p) {
            Processes.Entries.push_back(TProcessEntry{kFirstPid + p, "worker-" + std::to_string(p)});
        }
        Processes.Entries.push_back(TProcessEntry{1, "init"});
    }
};

// The monitor's state of one session: what the command-line tool holds.
struct TSession {
    TViewSettings View;
    ConnectionSnapshot Snapshot;
    TConnectionitems Connections;
    TBenchOutlets Outlets;
    TLocationCache Locations;
    TRefresh Refresh;

    explicit TSession(TFakeHost& host)
        : Locations(host.Locations.Opener()),
          Refresh(Snapshot, Connections, TPlatformServices{host.Tables, host.Processes, host.Names}, View) {
        Refresh.Locations = &Locations;
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void SetCounters(benchmark::State& state, int64_t rows) {
    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["time_per_row"] = benchmark::Counter(static_cast<double>(state.iterations() * rows),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_RefreshKnownRows(benchmark::State& state) {
    const int64_t rows = state.range(0);
    TFakeHost host(rows);
    TSession session(host);
    session.Refresh.Run(session.Outlets);  // learns every row
    if (session.Connections.Count() != static_cast<size_t>(rows) || session.Outlets.Logs != static_cast<size_t>(rows)) {
        state.SkipWithError("the first refresh did not learn every row as a new connection");
        return;
    }
    session.Outlets.Logs = 0;
    for (auto _ : state) {
        session.Refresh.Run(session.Outlets);
        host.Names.ResolveRequests.clear();  // the fake records every request
    }
    // Nothing changed, so nothing may be logged, and the grid shows every row.
    if (session.Outlets.Logs != 0) {
        state.SkipWithError("refreshes of unchanged rows logged entries");
        return;
    }
    if (session.Outlets.Grid.RowCount() != rows + 1 || session.Connections.Count() != static_cast<size_t>(rows)) {
        state.SkipWithError("the grid or the connection list lost rows");
        return;
    }
    SetCounters(state, rows);
}

void BM_LocationColumns(benchmark::State& state) {
    const int64_t rows = state.range(0);
    TFakeHost host(rows);
    TSession plain(host);
    TSession located(host);
    located.View.ShowLocation = true;
    located.Refresh.LocationBudget = std::chrono::minutes(1);  // the warm-up waits for every location
    plain.Refresh.Run(plain.Outlets);
    located.Refresh.Run(located.Outlets);
    if (!located.Outlets.Grid.Row(static_cast<int>(rows)).Location || plain.Outlets.Grid.Row(1).Location) {
        state.SkipWithError("the rows are not located as the views say");
        return;
    }
    plain.Outlets.Logs = located.Outlets.Logs = 0;
    std::vector<double> without, with;
    const auto timed = [](TSession& session) {
        const auto started = std::chrono::steady_clock::now();
        session.Refresh.Run(session.Outlets);
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    };
    for (auto _ : state) {
        // Each first in turn, so that neither always finds the other's data in the caches.
        if (without.size() % 2 == 0) {
            without.push_back(timed(plain));
            with.push_back(timed(located));
        } else {
            with.push_back(timed(located));
            without.push_back(timed(plain));
        }
        host.Names.ResolveRequests.clear();
    }
    if (plain.Outlets.Logs != 0 || located.Outlets.Logs != 0) {
        state.SkipWithError("refreshes of unchanged rows logged entries");
        return;
    }
    state.counters["without_ms"] = Median(without);
    state.counters["with_ms"] = Median(with);
    state.counters["cost_percent"] = (Median(with) / Median(without) - 1) * 100;
}

void BM_RefreshNewRows(benchmark::State& state) {
    const int64_t rows = state.range(0);
    TFakeHost host(rows);
    size_t logs = 0;
    size_t ruleChecks = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto session = std::make_unique<TSession>(host);
        host.Names.ResolveRequests.clear();
        state.ResumeTiming();

        session->Refresh.Run(session->Outlets);

        state.PauseTiming();
        logs += session->Outlets.Logs;
        ruleChecks += session->Outlets.RuleChecks;
        const bool gridComplete = session->Outlets.Grid.RowCount() == rows + 1 &&
                                  session->Outlets.Grid.Row(static_cast<int>(rows)).State == TTcpState::Established;
        session.reset();  // tearing down the list is not part of the refresh
        state.ResumeTiming();
        if (!gridComplete) {
            state.SkipWithError("the grid does not hold every row");
            return;
        }
    }
    // Every row is a new established connection: one entry and one rule check each.
    const auto expected = static_cast<size_t>(state.iterations() * rows);
    if (logs != expected || ruleChecks != expected) {
        state.SkipWithError("not every new connection was logged and checked exactly once");
        return;
    }
    SetCounters(state, rows);
}

void BM_OwnerMap(benchmark::State& state) {
    const int64_t rows = state.range(0);
    TFakeHost host(rows);
    ConnectionSnapshot snapshot;
    snapshot.FetchTables(host.Tables, host.Processes);
    const auto tables = snapshot.Tables();
    for (auto _ : state) {
        const TSocketOwnerMap owners(*tables, snapshot.Processes());
        benchmark::DoNotOptimize(owners);
    }
    SetCounters(state, rows);
}

void BM_PacketOwner(benchmark::State& state) {
    const int64_t rows = state.range(0);
    TFakeHost host(rows);
    ConnectionSnapshot snapshot;
    snapshot.FetchTables(host.Tables, host.Processes);
    const TSocketOwnerMap owners(*snapshot.Tables(), snapshot.Processes());
    // Packets received on every connection, in table order.
    std::vector<TPacketFields> packets;
    for (const TTcpRow& row : host.Tables.TcpRows) {
        TPacketFields& packet = packets.emplace_back();
        packet.Protocol = 6;
        packet.SourceAddr = row.RemoteAddr.Bytes();
        packet.SourcePort = row.RemotePort;
        packet.DestAddr = row.LocalAddr.Bytes();
        packet.DestPort = row.LocalPort;
    }
    size_t next = 0;
    size_t named = 0;
    for (auto _ : state) {
        named += PacketOwner(owners, packets[next]) != nullptr;
        next = next + 1 == packets.size() ? 0 : next + 1;
    }
    if (named != static_cast<size_t>(state.iterations())) state.SkipWithError("a packet's owner was not found");
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_OwnerMap)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PacketOwner)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kNanosecond);

// Three repetitions each; the growth check compares their medians.
BENCHMARK(BM_RefreshKnownRows)
    ->Arg(kSmall)
    ->Arg(kLarge)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3)
    ->DisplayAggregatesOnly(true);
BENCHMARK(BM_LocationColumns)
    ->Arg(kLocated)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0)
    ->Repetitions(3)
    ->DisplayAggregatesOnly(true);
BENCHMARK(BM_RefreshNewRows)
    ->Arg(kSmall)
    ->Arg(kLarge)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3)
    ->DisplayAggregatesOnly(true);

// Prints as usual and keeps the time per refresh of every run, to compare sizes afterwards.
class TGrowthReporter final : public benchmark::ConsoleReporter {
public:
    explicit TGrowthReporter(OutputOptions options) : ConsoleReporter(options) {}

    // function name -> rows -> times of its runs (ms), or the median of its repetitions
    std::map<std::string, std::map<int64_t, std::vector<double>>> Times;
    std::map<std::string, std::map<int64_t, double>> Medians;
    // The median counters of BM_LocationColumns' repetitions (or of its one run).
    std::map<std::string, double> LocationCounters;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string& args = run.run_name.args;
            if (run.error_occurred || args.empty()) continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration) {
                Times[name][std::stoll(args)].push_back(run.GetAdjustedRealTime());
            } else if (run.aggregate_name == "median") {
                Medians[name][std::stoll(args)] = run.GetAdjustedRealTime();
            }
            if (name == "BM_LocationColumns" &&
                (run.aggregate_name == "median" || (run.run_type == Run::RT_Iteration && run.repetitions <= 1))) {
                for (const auto& [counter, value] : run.counters) LocationCounters[counter] = value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// The time per refresh of `name` at `rows`, or a negative value when it did not run.
double TimeOf(const TGrowthReporter& reporter, const std::string& name, int64_t rows) {
    if (const auto m = reporter.Medians.find(name); m != reporter.Medians.end()) {
        if (const auto it = m->second.find(rows); it != m->second.end()) return it->second;
    }
    if (const auto t = reporter.Times.find(name); t != reporter.Times.end()) {
        if (const auto it = t->second.find(rows); it != t->second.end()) return Median(it->second);
    }
    return -1;
}

// Compares the sizes; false when some benchmark grew faster than allowed.
bool CheckGrowth(const TGrowthReporter& reporter) {
    bool ok = true;
    for (const char* name : {"BM_RefreshKnownRows", "BM_RefreshNewRows"}) {
        const double small = TimeOf(reporter, name, kSmall);
        const double large = TimeOf(reporter, name, kLarge);
        if (small <= 0 || large <= 0) continue;
        const double ratio = large / small;
        const bool pass = ratio <= kMaxGrowth;
        ok = ok && pass;
        std::printf("growth %-22s %lld rows / %lld rows = %5.2fx (linear: 10x, limit %.0fx)  %s\n", name,
                    static_cast<long long>(kLarge), static_cast<long long>(kSmall), ratio, kMaxGrowth,
                    pass ? "PASS" : "FAIL");
    }
    return ok;
}

// The cost of the location columns; false when it is more than allowed.
bool CheckLocationCost(const TGrowthReporter& reporter) {
    const auto& counters = reporter.LocationCounters;
    if (!counters.contains("cost_percent")) return true;
    const double cost = counters.at("cost_percent");
    const bool pass = cost <= kMaxLocationCost * 100;
    std::printf("location columns at %lld rows: %.2f ms with, %.2f ms without = %+.1f%% (limit %+.0f%%)  %s\n",
                static_cast<long long>(kLocated), counters.at("with_ms"), counters.at("without_ms"), cost,
                kMaxLocationCost * 100, pass ? "PASS" : "FAIL");
    return pass;
}

}  // namespace tarnwick::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    tarnwick::bench::TGrowthReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                                     : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);
    const bool grew = !tarnwick::bench::CheckGrowth(reporter);
    const bool costly = !tarnwick::bench::CheckLocationCost(reporter);
    return grew || costly ? 1 : 0;
}

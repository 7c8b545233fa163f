// A full refresh with the real Linux services while tarnwick-hold-connections
// holds N established loopback connections (2 N established rows: both ends
// are on this host), for N = 1000, 10000 and 50000.
//
//   BM_FullRefresh/N:   TRefresh::Run as the command-line tool runs it: the
//                       sock_diag dumps, the socket owners from /proc, the
//                       process list, row texts, change detection, grid rows.
//                       Host names come from the cache, filled by a warm-up
//                       refresh that may wait for every answer.
//   BM_FullRefreshNoTraffic/N: the same without the TCP sockets' byte
//                       counters (no tcp_info asked for, no rates).
//   BM_FullRefreshFilteredSorted/N: BM_FullRefresh with the grid's filter
//                       and sort set, as the window works them out after
//                       each refresh: two words that every held connection
//                       holds, sorted by the remote port, descending.
//   BM_GridView/N/how:  a filter and sort alone, over the rows of one
//                       refresh, worked out again and again as after
//                       refreshes that change nothing: how = 0 the filter
//                       and sort above; 1 a digit that many rows hold only in
//                       a traffic text (each row's traffic is formatted to
//                       look), sorted by the program's name; 2 no filter and
//                       a sort by the remote port that turns round each time,
//                       so that every row is sorted anew each time.
//   BM_TcpTable/N:      only the TCP table fetch (dump + owners).
//   BM_SocketOwners/N:  only the scan of /proc/<pid>/fd for socket owners.
//   BM_ProcessList/N:   only the process list.
// The last three split BM_FullRefresh into where its time goes; what is left
// over is the monitor's own work on the rows.
//
// The holder is found through $TARNWICK_HOLD_CONNECTIONS, else next to this
// program, else at the path it was built to. One holder serves all the
// benchmarks of one size: they are registered size by size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "monitor/connection_items.h"
#include "monitor/connection_snapshot.h"
#include "monitor/grid_rows.h"
#include "monitor/grid_view.h"
#include "monitor/refresh.h"
#include "monitor/view_settings.h"
#include "platform/linux/linux_ip_tables.h"
#include "platform/linux/linux_name_lookup.h"
#include "platform/linux/linux_process_list.h"
#include "platform/linux/socket_owners.h"

extern char** environ;

namespace tarnwick::bench {

constexpr const char* kHolderName = "tarnwick-hold-connections";
constexpr auto kHolderStartTimeout = std::chrono::seconds(120);
constexpr auto kHolderExitTimeout = std::chrono::seconds(30);
// The warm-up refresh waits this long for host names, so that the measured
// refreshes find every answer in the cache.
constexpr auto kWarmUpNameBudget = std::chrono::seconds(60);

std::string HolderPath() {
    if (const char* env = std::getenv("TARNWICK_HOLD_CONNECTIONS"); env && *env) return env;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string path(self, static_cast<size_t>(length));
        path.erase(path.rfind('/') + 1);
        path += kHolderName;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
#ifdef TARNWICK_HOLDER_PATH
    return TARNWICK_HOLDER_PATH;
#else
    return kHolderName;
#endif
}

// A running tarnwick-hold-connections: started by the constructor, which
// returns once it reported "ready", ended by the destructor (stdin closed,
// then SIGTERM, then SIGKILL if it lingers).
class THolder {
public:
    explicit THolder(long count) : Count_(count) {
        int toChild[2];
        int fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) Throw("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        const std::string path = HolderPath();
        const std::string arg = std::to_string(count);
        char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(arg.c_str()), nullptr};
        const int error = posix_spawn(&Pid_, path.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        Stdin_ = toChild[1];
        if (error != 0) {
            close(fromChild[0]);
            Pid_ = -1;
            throw std::runtime_error("cannot start " + path + ": " + std::strerror(error));
        }
        FILE* out = fdopen(fromChild[0], "r");
        char line[128] = {};
        const bool got = out != nullptr && std::fgets(line, sizeof line, out) != nullptr;
        if (out) std::fclose(out);
        const std::string expected = "ready " + arg + "\n";
        if (!got || expected != line) {
            End();
            throw std::runtime_error(path + " " + arg + " did not get ready (see its message above)");
        }
    }
    ~THolder() { End(); }
    THolder(const THolder&) = delete;
    THolder& operator=(const THolder&) = delete;

    long Count() const { return Count_; }

private:
    [[noreturn]] static void Throw(const char* what) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    }

    bool WaitExit(std::chrono::steady_clock::duration timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        do {
            int status = 0;
            const pid_t done = waitpid(Pid_, &status, WNOHANG);
            if (done == Pid_ || (done < 0 && errno == ECHILD)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (std::chrono::steady_clock::now() < until);
        return false;
    }

    void End() {
        if (Stdin_ >= 0) close(Stdin_);
        Stdin_ = -1;
        if (Pid_ <= 0) return;
        if (!WaitExit(kHolderExitTimeout)) {
            kill(Pid_, SIGTERM);
            if (!WaitExit(std::chrono::seconds(5))) {
                kill(Pid_, SIGKILL);
                WaitExit(std::chrono::seconds(5));
            }
        }
        Pid_ = -1;
    }

    long Count_;
    pid_t Pid_ = -1;
    int Stdin_ = -1;
};

// The holder for `count` connections; the holder of another size is ended first.
std::unique_ptr<THolder> gHolder;

THolder& HolderFor(long count) {
    if (!gHolder || gHolder->Count() != count) {
        gHolder.reset();
        gHolder = std::make_unique<THolder>(count);
    }
    return *gHolder;
}

void EndHolder() { gHolder.reset(); }

// The command-line tool's outlets without the printing.
class TBenchOutlets final : public TRefreshOutlets {
public:
    TGridRows Grid;
    size_t Logs = 0;

    int GridRowCount() override { return Grid.RowCount(); }
    void SetGridRowCount(int rows) override { Grid.SetRowCount(rows); }
    void WriteGridRow(int row, const TConnectionRow& texts) override { Grid.WriteRow(row, texts); }
    void AddLog(const std::string&, LogKind, const std::optional<TLogConnection>&) override { ++Logs; }
    void CheckRules(int, const TLogConnection&) override {}
};

bool StartHolder(benchmark::State& state) {
    try {
        HolderFor(state.range(0));
        return true;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return false;
    }
}

// The filter and sort of BM_FullRefreshFilteredSorted: every held connection
// runs from 127.0.0.x to a program "tarnwick-hold-c(onnections)".
void SetTypicalView(TGridView& view) {
    view.SetFilter("hold 127.0");
    view.SetSort(TGridSort{GridColumnOf("Remote Port"), true});
}

// One session over the real tables, refreshed as the command-line tool
// refreshes. `readTraffic` off: the TCP dumps ask for no tcp_info, so no byte
// counters, rates or program ranking.
struct TRealRefresh {
    TLinuxIpTables Tables;
    TLinuxProcessList Processes;
    TLinuxNameLookup Names;
    TViewSettings View;
    ConnectionSnapshot Snapshot;
    TConnectionitems Connections;
    TBenchOutlets Outlets;
    TRefresh Refresh{Snapshot, Connections, TPlatformServices{Tables, Processes, Names}, View};

    explicit TRealRefresh(bool readTraffic) { View.ReadTraffic = readTraffic; }

    // Two refreshes: the first waits for every host name, so that the measured
    // ones take them from the cache; after the second, rates are known.
    void WarmUp() {
        const auto defaultBudget = Refresh.HostNameBudget;
        Refresh.HostNameBudget = kWarmUpNameBudget;
        Refresh.Run(Outlets);
        Refresh.HostNameBudget = defaultBudget;
        Refresh.Run(Outlets);
    }
};

// The comparison without traffic is what traffic costs a refresh. With
// `gridView`, the view is worked out after each refresh, as the window does.
void FullRefresh(benchmark::State& state, bool readTraffic, TGridView* gridView = nullptr) {
    if (!StartHolder(state)) return;
    const long held = state.range(0);
    TRealRefresh session(readTraffic);
    session.WarmUp();
    const uint32_t rows = session.Snapshot.TcpRowCount() + session.Snapshot.UdpRowCount();
    if (session.Snapshot.TcpRowCount() < 2 * static_cast<uint32_t>(held)) {
        state.SkipWithError("the TCP table holds fewer rows than the held connections' ends");
        return;
    }
    if (gridView) {
        gridView->Update(session.Outlets.Grid);
        if (gridView->ShownCount() < 2 * held) {
            state.SkipWithError("the filter left out held connections");
            return;
        }
    }
    session.Outlets.Logs = 0;
    for (auto _ : state) {
        session.Refresh.Run(session.Outlets);
        if (gridView) gridView->Update(session.Outlets.Grid);
    }

    state.SetItemsProcessed(state.iterations() * rows);
    state.counters["rows"] = rows;
    state.counters["known"] = static_cast<double>(session.Connections.Count());
    // Held connections do not change: anything logged is other traffic on the host.
    state.counters["logs_per_refresh"] =
        static_cast<double>(session.Outlets.Logs) / static_cast<double>(state.iterations());
    if (gridView) state.counters["shown"] = gridView->ShownCount();
}

void BM_FullRefresh(benchmark::State& state) { FullRefresh(state, true); }
void BM_FullRefreshNoTraffic(benchmark::State& state) { FullRefresh(state, false); }
void BM_FullRefreshFilteredSorted(benchmark::State& state) {
    TGridView view;
    SetTypicalView(view);
    FullRefresh(state, true, &view);
}

void BM_GridView(benchmark::State& state) {
    if (!StartHolder(state)) return;
    TRealRefresh session(true);
    session.WarmUp();
    const TGridRows& grid = session.Outlets.Grid;
    TGridView view;
    switch (state.range(1)) {
        case 0: SetTypicalView(view); break;
        case 1:
            view.SetFilter("9");
            view.SetSort(TGridSort{GridColumnOf("Process"), false});
            break;
        default: break;
    }
    bool descending = false;
    for (auto _ : state) {
        // A sort that changes each time is a sort in full each time.
        if (state.range(1) == 2) view.SetSort(TGridSort{GridColumnOf("Remote Port"), descending = !descending});
        view.Update(grid);
    }
    state.SetItemsProcessed(state.iterations() * (grid.RowCount() - 1));
    state.counters["rows"] = grid.RowCount() - 1;
    state.counters["shown"] = view.ShownCount();
}

void BM_TcpTable(benchmark::State& state) {
    if (!StartHolder(state)) return;
    TLinuxIpTables tables;
    size_t rows = 0;
    for (auto _ : state) {
        const TResult<TTcpTable> table = tables.FetchTcp({});
        if (!table) {
            state.SkipWithError(table.Failure().Text().c_str());
            return;
        }
        rows = table->Rows.size();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rows));
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_SocketOwners(benchmark::State& state) {
    if (!StartHolder(state)) return;
    size_t sockets = 0;
    for (auto _ : state) {
        const TSocketOwners owners = TSocketOwners::Scan();
        sockets = owners.Size();
    }
    if (sockets < 2 * static_cast<size_t>(state.range(0))) {
        state.SkipWithError("the scan found fewer sockets than the holder holds");
        return;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(sockets));
    state.counters["sockets"] = static_cast<double>(sockets);
}

void BM_ProcessList(benchmark::State& state) {
    if (!StartHolder(state)) return;
    TLinuxProcessList processes;
    size_t count = 0;
    for (auto _ : state) {
        auto list = processes.TakeSnapshot();
        if (!list) {
            state.SkipWithError("the process list cannot be read");
            return;
        }
        count = list->size();
    }
    state.counters["processes"] = static_cast<double>(count);
}

}  // namespace tarnwick::bench

int main(int argc, char** argv) {
    using namespace tarnwick::bench;
    // The benchmarks of one size follow each other, so that one holder serves them all.
    for (const long count : {1000L, 10000L, 50000L}) {
        const auto add = [count](const char* name, void (*fn)(benchmark::State&)) {
            benchmark::RegisterBenchmark(name, fn)
                ->Arg(count)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MeasureProcessCPUTime()
                ->MinTime(2.0);  // several refreshes even at 50,000 connections
        };
        add("BM_FullRefresh", BM_FullRefresh);
        add("BM_FullRefreshNoTraffic", BM_FullRefreshNoTraffic);
        add("BM_FullRefreshFilteredSorted", BM_FullRefreshFilteredSorted);
        for (const long how : {0L, 1L, 2L}) {
            benchmark::RegisterBenchmark("BM_GridView", BM_GridView)
                ->Args({count, how})
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MeasureProcessCPUTime()
                ->MinTime(1.0);
        }
        add("BM_TcpTable", BM_TcpTable);
        add("BM_SocketOwners", BM_SocketOwners);
        add("BM_ProcessList", BM_ProcessList);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    EndHolder();
    benchmark::Shutdown();
    return 0;
}

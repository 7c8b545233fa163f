// The cost of finding socket owners on one refresh, with 200 child processes
// holding 50 UDP sockets each (10,000 sockets), every one of them asked for:
//
//   BM_OwnerScan:              TSocketOwners::Scan, every descriptor of every
//                              process read.
//   BM_OwnerCacheSteady:       TSocketOwnerCache::Find when nothing changed
//                              since the refresh before (the usual refresh).
//   BM_OwnerCacheUnknownSocket: the same with one socket that no process holds,
//                              new on each refresh, as a socket closed between
//                              the dump of the tables and the look for owners.
#include <benchmark/benchmark.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "platform/linux/socket_owners.h"

namespace tarnwick::bench {
namespace {

constexpr int kProcesses = 200;
constexpr int kSocketsEach = 50;

// The children and the inodes of their sockets; they exit when the pipe
// they wait on is closed (or when this process dies).
class THolders {
public:
    THolders() {
        int release[2];
        if (pipe(release) != 0) throw std::runtime_error("pipe");
        for (int i = 0; i < kProcesses; ++i) {
            int report[2];
            if (pipe(report) != 0) throw std::runtime_error("pipe");
            const pid_t pid = fork();
            if (pid < 0) throw std::runtime_error("fork");
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                close(release[1]);
                close(report[0]);
                uint64_t inodes[kSocketsEach];
                for (uint64_t& inode : inodes) {
                    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
                    struct stat info {};
                    if (fd < 0 || fstat(fd, &info) != 0) _exit(1);
                    inode = info.st_ino;
                }
                if (write(report[1], inodes, sizeof inodes) != static_cast<ssize_t>(sizeof inodes)) _exit(1);
                char byte;
                while (read(release[0], &byte, 1) > 0) {
                }
                _exit(0);
            }
            close(report[1]);
            uint64_t inodes[kSocketsEach];
            const bool complete = read(report[0], inodes, sizeof inodes) == static_cast<ssize_t>(sizeof inodes);
            close(report[0]);
            Pids_.push_back(pid);
            if (!complete) throw std::runtime_error("a child could not make its sockets");
            Inodes.insert(Inodes.end(), inodes, inodes + kSocketsEach);
        }
        close(release[0]);
        Release_ = release[1];
        std::sort(Inodes.begin(), Inodes.end());
    }

    ~THolders() {
        close(Release_);
        for (const pid_t pid : Pids_) waitpid(pid, nullptr, 0);
    }

    std::vector<uint64_t> Inodes;

private:
    std::vector<pid_t> Pids_;
    int Release_ = -1;
};

THolders& Holders() {
    static THolders holders;
    return holders;
}

void Report(benchmark::State& state) {
    state.counters["sockets"] = static_cast<double>(Holders().Inodes.size());
    state.counters["processes"] = kProcesses;
}

void BM_OwnerScan(benchmark::State& state) {
    const std::vector<uint64_t>& inodes = Holders().Inodes;
    for (auto _ : state) benchmark::DoNotOptimize(TSocketOwners::Scan());
    if (TSocketOwners::Scan().PidOf(inodes.front()) == 0) state.SkipWithError("the children's sockets were not found");
    Report(state);
}

// A warm cache (one refresh before), whose answers are checked against a scan.
bool Warm(benchmark::State& state, TSocketOwnerCache& cache) {
    const std::vector<uint64_t>& inodes = Holders().Inodes;
    const TSocketOwners cached = cache.Find(inodes);
    const TSocketOwners scanned = TSocketOwners::Scan();
    for (const uint64_t inode : inodes) {
        if (cached.PidOf(inode) == 0 || cached.PidOf(inode) != scanned.PidOf(inode)) {
            state.SkipWithError("the cache disagrees with a full scan");
            return false;
        }
    }
    return true;
}

void BM_OwnerCacheSteady(benchmark::State& state) {
    TSocketOwnerCache cache;
    if (!Warm(state, cache)) return;
    for (auto _ : state) benchmark::DoNotOptimize(cache.Find(Holders().Inodes));
    Report(state);
}

void BM_OwnerCacheUnknownSocket(benchmark::State& state) {
    TSocketOwnerCache cache;
    if (!Warm(state, cache)) return;
    std::vector<uint64_t> inodes = Holders().Inodes;
    // Above every real inode, so that the list stays sorted with it last.
    inodes.push_back(uint64_t{1} << 62);
    for (auto _ : state) {
        ++inodes.back();
        benchmark::DoNotOptimize(cache.Find(inodes));
    }
    Report(state);
}

}  // namespace
}  // namespace tarnwick::bench

int main(int argc, char** argv) {
    using namespace tarnwick::bench;
    const auto add = [](const char* name, void (*fn)(benchmark::State&)) {
        benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1.0);
    };
    add("BM_OwnerScan", BM_OwnerScan);
    add("BM_OwnerCacheSteady", BM_OwnerCacheSteady);
    add("BM_OwnerCacheUnknownSocket", BM_OwnerCacheUnknownSocket);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    try {
        Holders();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot start the socket holders: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

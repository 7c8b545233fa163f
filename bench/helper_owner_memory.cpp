// Drives a tarnwick-helper with owner requests for sockets no process holds
// and reports the helper's peak resident memory (VmHWM) after each request:
// what a client that keeps asking for unknown sockets makes it hold.
//
//   tarnwick-helper-memory HELPER [REQUESTS [SOCKETS]]
//
// Each request names SOCKETS random inode numbers (default 1,000,000, the
// most one request may name), fresh ones every time, high enough that no
// socket of this machine has them. Prints one line per request: its number,
// its time in ms and the helper's VmHWM in kB. Exits 1 when the helper
// cannot be used or fails a request.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/linux/helper_client.h"

namespace {

// The helper is this thread's only child.
std::string HelperStatusPath() {
    std::ifstream children("/proc/self/task/" + std::to_string(gettid()) + "/children");
    long pid = 0;
    if (!(children >> pid)) return {};
    return "/proc/" + std::to_string(pid) + "/status";
}

long PeakKb(const std::string& statusPath) {
    std::ifstream status(statusPath);
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s HELPER [REQUESTS [SOCKETS]]\n", argv[0]);
        return 2;
    }
    const int requests = argc > 2 ? std::atoi(argv[2]) : 20;
    const size_t sockets = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : tarnwick::kMaxOwnerInodes;
    tarnwick::THelperClient helper(argv[1]);
    if (const tarnwick::TStatus started = helper.Start(); !started) {
        std::fprintf(stderr, "%s\n", started.Failure().Text().c_str());
        return 1;
    }
    const std::string statusPath = HelperStatusPath();
    std::printf("request\tms\tVmHWM_kB\n0\t0\t%ld\n", PeakKb(statusPath));
    std::mt19937_64 random(42);
    std::vector<uint64_t> inodes(sockets);
    for (int request = 1; request <= requests; ++request) {
        // Real inode numbers are 32-bit counters: these are never a socket's.
        for (uint64_t& inode : inodes) inode = random() | (uint64_t{1} << 63);
        std::sort(inodes.begin(), inodes.end());
        inodes.erase(std::unique(inodes.begin(), inodes.end()), inodes.end());
        const auto start = std::chrono::steady_clock::now();
        if (const auto owners = helper.SocketOwners(inodes); !owners) {
            std::fprintf(stderr, "request %d: %s\n", request, owners.Failure().Text().c_str());
            return 1;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("%d\t%lld\t%ld\n", request, static_cast<long long>(ms.count()), PeakKb(statusPath));
        std::fflush(stdout);
    }
    return 0;
}

#include "refresh_stats_observer.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace tarnwick {

namespace {

std::chrono::microseconds Since(std::chrono::steady_clock::time_point then) {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - then);
}

// This process's resident memory in kB (VmRSS of /proc/self/status), or -1.
long ResidentKb() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr) return -1;
    long kb = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
    }
    std::fclose(status);
    return kb;
}

}  // namespace

TRefreshStatsObserver::TRefreshStatsObserver(std::function<int()> gridRows, int quitAfter, QObject* parent)
    : QObject(parent), GridRows_(std::move(gridRows)), QuitAfter_(quitAfter) {
    Heartbeat_ = new QTimer(this);
    Heartbeat_->setInterval(kHeartbeat);
    Heartbeat_->setTimerType(Qt::PreciseTimer);
    LastBeat_ = TClock::now();
    // The window may start its first refresh before the observer is attached:
    // that one counts from here.
    RefreshStart_ = LastBeat_;
    connect(Heartbeat_, &QTimer::timeout, this, [this] {
        const auto stall = Since(LastBeat_) - kHeartbeat;
        if (stall > LongestStall_) LongestStall_ = stall;
        LastBeat_ = TClock::now();
    });
    Heartbeat_->start();
}

void TRefreshStatsObserver::RefreshStarted() {
    RefreshStart_ = TClock::now();
    LongestTask_ = LongestStall_ = std::chrono::microseconds{0};
}

void TRefreshStatsObserver::TaskStarted() { TaskStart_ = TClock::now(); }

void TRefreshStatsObserver::TaskEnded() {
    const auto took = Since(TaskStart_);
    if (took > LongestTask_) LongestTask_ = took;
}

void TRefreshStatsObserver::RefreshEnded() {
    std::fprintf(stderr,
                 "refresh %d: %.1f ms, grid rows %d, longest hand-over %.2f ms, longest window-thread stall %.2f ms, "
                 "VmRSS %ld kB\n",
                 ++Refreshes_, Since(RefreshStart_).count() / 1000.0, GridRows_ ? GridRows_() : 0,
                 LongestTask_.count() / 1000.0, LongestStall_.count() / 1000.0, ResidentKb());
    if (Refreshes_ == QuitAfter_) QCoreApplication::exit(0);
}

}  // namespace tarnwick

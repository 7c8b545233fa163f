// Statistics of the window's refreshes, printed to stderr after each one:
// how long it took, the longest hand-over task it ran on the window thread,
// and the longest stall of the window thread's event loop meanwhile (a fast
// heartbeat whose late ticks show hand-overs, model updates and painting alike),
// and the process's resident memory (VmRSS) after it.
#pragma once

#include <QObject>

#include <chrono>
#include <functional>

#include "monitor/refresh_scheduler.h"

class QTimer;

namespace tarnwick {

class TRefreshStatsObserver final : public QObject, public TRefreshObserver {
public:
    // `gridRows` tells the grid's row count when a refresh ends. With
    // `quitAfter` above 0, the application quits after that many refreshes.
    TRefreshStatsObserver(std::function<int()> gridRows, int quitAfter = 0, QObject* parent = nullptr);

    void RefreshStarted() override;
    void TaskStarted() override;
    void TaskEnded() override;
    void RefreshEnded() override;

private:
    using TClock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kHeartbeat{5};

    std::function<int()> GridRows_;
    QTimer* Heartbeat_ = nullptr;
    TClock::time_point LastBeat_;
    TClock::time_point RefreshStart_;
    TClock::time_point TaskStart_;
    std::chrono::microseconds LongestTask_{0};
    std::chrono::microseconds LongestStall_{0};
    int QuitAfter_ = 0;
    int Refreshes_ = 0;
};

}  // namespace tarnwick

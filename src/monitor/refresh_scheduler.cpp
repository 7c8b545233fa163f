#include "monitor/refresh_scheduler.h"

#include <exception>
#include <utility>

#include "monitor/worker_outlets.h"

namespace tarnwick {

TRefreshScheduler::TRefreshScheduler(TRefresh& refresh, TRefreshOutlets& window, TPoster poster)
    : Refresh_(refresh), Window_(window), Poster_(std::move(poster)),
      HandOver_([this](std::function<void()> task) { PostObserved(std::move(task)); }) {}

TRefreshScheduler::~TRefreshScheduler() {
    Stop();
    Lifetime_->Ended = true;  // tasks still queued for the window thread do nothing
}

void TRefreshScheduler::Request() {
    if (Stopped_) return;
    if (Gate_.TryBegin()) StartWorker();
}

void TRefreshScheduler::RunNow() {
    if (Stopped_) return;
    if (!Gate_.TryBegin()) return;  // served right after the running refresh
    Started();
    try {
        Refresh_.Run(Window_);
    } catch (const std::exception& error) {
        ReportFailure(error.what());
    }
    EndRefresh();
}

void TRefreshScheduler::Stop() {
    if (Stopped_) return;
    Stopped_ = true;
    // The worker may be waiting for this thread right now: release it first,
    // then wait for it. Its own last task finds the scheduler stopped.
    HandOver_.Cancel();
    if (Worker_.joinable()) Worker_.join();
}

void TRefreshScheduler::Started() {
    if (OnStarted) OnStarted();
    if (Observer) Observer->RefreshStarted();
}

void TRefreshScheduler::StartWorker() {
    if (Stopped_) {
        Gate_.End();
        return;
    }
    Started();
    Worker_ = std::thread([this] { RunWorker(); });
}

void TRefreshScheduler::RunWorker() {
    std::string failure;
    TWorkerOutlets outlets(HandOver_, Window_);
    try {
        Refresh_.Run(outlets);
        outlets.Flush();
    } catch (const std::exception& error) {
        failure = error.what();
        // What the refresh queued before it failed is still handed over: those
        // connections are in the connection list already, so their events
        // would never come otherwise.
        try {
            outlets.Flush();
        } catch (const std::exception&) {
            // The first error is the one reported.
        }
    }
    if (outlets.Stopping()) return;  // Stop joins this thread and nothing waits for its end
    Poster_([this, lifetime = Lifetime_, failure = std::move(failure)] {
        if (lifetime->Ended || Stopped_) return;
        if (!failure.empty()) ReportFailure(failure);
        WorkerDone();
    });
}

void TRefreshScheduler::WorkerDone() {
    // The worker's last act was posting this task: it is ending or has ended.
    if (Worker_.joinable()) Worker_.join();
    EndRefresh();
}

void TRefreshScheduler::EndRefresh() {
    ++Completed_;
    if (Observer) Observer->RefreshEnded();
    // Requests that came in meanwhile (ticks, view commands, a kill's refresh)
    // are served by one refresh now, over a snapshot nobody reads any more.
    const bool again = Gate_.End();
    if (OnFinished) OnFinished();
    if (again) StartWorker();
}

void TRefreshScheduler::ReportFailure(const std::string& reason) {
    // A refresh never shows a message; observers may still want to know.
    if (Observer) Observer->RefreshFailed(reason);
}

void TRefreshScheduler::PostObserved(std::function<void()> task) {
    Poster_([this, lifetime = Lifetime_, task = std::move(task)] {
        if (lifetime->Ended) return;
        if (Observer) Observer->TaskStarted();
        task();
        if (!lifetime->Ended && Observer) Observer->TaskEnded();
    });
}

}  // namespace tarnwick

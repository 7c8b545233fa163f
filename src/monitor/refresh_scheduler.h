// TRefreshScheduler: the one place that starts, serialises and stops the
// refreshes of a window. A periodic refresh runs on a worker thread and hands
// its steps to the window thread through a poster; a refresh asked for by a
// command runs on the window thread itself. At most one refresh runs at any
// time, requests made meanwhile become one refresh after it, and once
// stopped no refresh starts again.
//
// Every public member is called on the window thread (the thread whose event
// loop runs the poster's tasks). The worker is a std::thread guarded by
// standard-library primitives, so ThreadSanitizer checks its ordering.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "monitor/hand_over.h"
#include "monitor/refresh.h"
#include "monitor/refresh_gate.h"

namespace tarnwick {

// Hooks for measuring refreshes from outside the product (benchmarks, tests).
// Called on the window thread.
class TRefreshObserver {
public:
    virtual ~TRefreshObserver() = default;
    virtual void RefreshStarted() {}
    // Around each hand-over task of a worker's refresh.
    virtual void TaskStarted() {}
    virtual void TaskEnded() {}
    // After the refresh's results are all in the window's outlets.
    virtual void RefreshEnded() {}
    // A refresh ended early by an error; the next one starts afresh.
    virtual void RefreshFailed(const std::string& /*reason*/) {}
};

class TRefreshScheduler {
public:
    using TPoster = THandOver::TPoster;

    // `window` takes the refresh's results on the window thread; `poster`
    // queues a task on that thread's event loop (never runs it at once).
    TRefreshScheduler(TRefresh& refresh, TRefreshOutlets& window, TPoster poster);
    // Stops, waiting for a running worker.
    ~TRefreshScheduler();
    TRefreshScheduler(const TRefreshScheduler&) = delete;
    TRefreshScheduler& operator=(const TRefreshScheduler&) = delete;

    // A refresh on a worker now, or one after the running refresh.
    void Request();
    // The refresh on this thread now, or one (on a worker) after the running refresh.
    void RunNow();
    // Releases a worker that waits for this thread, waits for it to end and
    // refuses every later refresh. Safe from inside a hand-over task (a modal
    // box's event loop) and more than once.
    void Stop();

    bool Running() const { return Gate_.Running(); }
    bool Stopped() const { return Stopped_; }
    int CompletedRefreshes() const { return Completed_; }

    // Told as each refresh starts, before any of its results, and after
    // each refresh, once its results are all in the outlets.
    std::function<void()> OnStarted;
    std::function<void()> OnFinished;
    // Not owned; must outlive the scheduler or be reset first.
    TRefreshObserver* Observer = nullptr;

private:
    // What the worker's posted tasks may still look at once the scheduler is
    // gone; touched on the window thread only.
    struct TLifetime {
        bool Ended = false;
    };

    void Started();
    void StartWorker();
    void RunWorker();
    void WorkerDone();
    void EndRefresh();
    void ReportFailure(const std::string& reason);
    void PostObserved(std::function<void()> task);

    TRefresh& Refresh_;
    TRefreshOutlets& Window_;
    TPoster Poster_;
    THandOver HandOver_;
    TRefreshGate Gate_;
    std::thread Worker_;
    std::shared_ptr<TLifetime> Lifetime_ = std::make_shared<TLifetime>();
    bool Stopped_ = false;
    int Completed_ = 0;
};

}  // namespace tarnwick

// TTaskQueue: tasks posted from any thread, run in order on the thread that
// calls RunPending. A posting thread queues its task under a standard mutex
// and signals the wake-up; the owning thread's event loop watches the
// wake-up and runs what is queued. This is the poster of the refresh
// scheduler in the window.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "platform/wakeup.h"

namespace tarnwick {

class TTaskQueue {
public:
    explicit TTaskQueue(TWakeup& wakeup) : Wakeup_(wakeup) {}

    // Any thread.
    void Post(std::function<void()> task);

    // The owning thread, when the wake-up's descriptor is readable. Tasks run
    // one at a time in the order posted; a task that runs an event loop of its
    // own (a modal box) lets later tasks run meanwhile, still in order.
    void RunPending();

private:
    TWakeup& Wakeup_;
    std::mutex Mutex_;
    std::deque<std::function<void()>> Tasks_;
};

}  // namespace tarnwick

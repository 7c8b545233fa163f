#include "monitor/task_queue.h"

#include <utility>

namespace tarnwick {

void TTaskQueue::Post(std::function<void()> task) {
    {
        std::lock_guard lock(Mutex_);
        Tasks_.push_back(std::move(task));
    }
    Wakeup_.Signal();
}

void TTaskQueue::RunPending() {
    // Cleared before the queue is read: a task posted after this point signals
    // anew, so none waits for a wake-up that already passed.
    Wakeup_.Clear();
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(Mutex_);
            if (Tasks_.empty()) return;
            task = std::move(Tasks_.front());
            Tasks_.pop_front();
        }
        task();
    }
}

}  // namespace tarnwick

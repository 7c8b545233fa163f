// The window thread's event loop for tests of code that hands tasks to it:
// tasks are posted from any thread and run on the test's thread by Pump.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace tarnwick::testing {

class TEventLoop {
public:
    void Post(std::function<void()> task) {
        std::lock_guard lock(Mutex_);
        Tasks_.push_back(std::move(task));
        Posted_.notify_all();
    }
    // Runs tasks until `done` holds, waiting for new ones as they come; false
    // when it still does not hold after `timeout`.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::function<void()> task;
            {
                std::unique_lock lock(Mutex_);
                if (!Posted_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !Tasks_.empty(); })) continue;
                task = std::move(Tasks_.front());
                Tasks_.pop_front();
            }
            task();
        }
        return true;
    }
    void RunAll() {
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
    size_t Queued() {
        std::lock_guard lock(Mutex_);
        return Tasks_.size();
    }

private:
    std::mutex Mutex_;
    std::condition_variable Posted_;
    std::deque<std::function<void()>> Tasks_;
};

}  // namespace tarnwick::testing

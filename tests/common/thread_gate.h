// A one-way gate between threads: closed until opened, then open for good.
// (Not std::latch: GCC 12's waits on atomics can miss a wake-up where the
// system has no futex, as on Windows, and wait for ever.)
#pragma once

#include <condition_variable>
#include <mutex>

namespace tarnwick::testing {

class TGate {
public:
    void Open() {
        std::lock_guard lock(Mutex_);
        Open_ = true;
        Opened_.notify_all();
    }
    void Wait() {
        std::unique_lock lock(Mutex_);
        Opened_.wait(lock, [this] { return Open_; });
    }

private:
    std::mutex Mutex_;
    std::condition_variable Opened_;
    bool Open_ = false;
};

}  // namespace tarnwick::testing

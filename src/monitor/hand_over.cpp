#include "monitor/hand_over.h"

#include <condition_variable>
#include <exception>
#include <string>
#include <mutex>

namespace tarnwick {

struct THandOver::TState {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Cancelled = false;
};

namespace {

// One queued task and what became of it. An error travels as its text, not
// as the exception object: an exception made on one thread and freed on
// another is reference-counted inside the C++ runtime, where ThreadSanitizer
// cannot see the ordering.
struct TSlot {
    bool Done = false;
    bool Failed = false;
    std::string Error;
};

}  // namespace

THandOver::THandOver(TPoster poster) : Poster_(std::move(poster)), State_(std::make_shared<TState>()) {}

bool THandOver::Run(std::function<void()> task) {
    auto slot = std::make_shared<TSlot>();
    {
        std::lock_guard lock(State_->Mutex);
        if (State_->Cancelled) return false;
    }
    Poster_([state = State_, slot, task = std::move(task)] {
        {
            std::lock_guard lock(state->Mutex);
            if (state->Cancelled) return;
        }
        // Cancel runs on this same thread, so it cannot come while the task runs.
        bool failed = false;
        std::string error;
        try {
            task();
        } catch (const std::exception& e) {
            failed = true;
            error = e.what();
        } catch (...) {
            failed = true;
            error = "unknown error";
        }
        std::lock_guard lock(state->Mutex);
        slot->Failed = failed;
        slot->Error = std::move(error);
        slot->Done = true;
        state->Changed.notify_all();
    });
    std::unique_lock lock(State_->Mutex);
    State_->Changed.wait(lock, [&] { return slot->Done || State_->Cancelled; });
    if (!slot->Done) return false;
    if (slot->Failed) throw THandOverError(slot->Error);
    return true;
}

void THandOver::Cancel() {
    std::lock_guard lock(State_->Mutex);
    State_->Cancelled = true;
    State_->Changed.notify_all();
}

bool THandOver::Cancelled() const {
    std::lock_guard lock(State_->Mutex);
    return State_->Cancelled;
}

}  // namespace tarnwick

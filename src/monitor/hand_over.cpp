#include "monitor/hand_over.h"

#include <condition_variable>
#include <exception>
#include <mutex>

namespace tarnwick {

struct THandOver::TState {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Cancelled = false;
};

namespace {

// One queued task and what became of it.
struct TSlot {
    bool Done = false;
    std::exception_ptr Error;
};

}  // namespace

THandOver::THandOver(TPoster poster) : Poster_(std::move(poster)), State_(std::make_shared<TState>()) {}

void THandOver::Run(std::function<void()> task) {
    auto slot = std::make_shared<TSlot>();
    {
        std::lock_guard lock(State_->Mutex);
        if (State_->Cancelled) throw TRefreshCancelled();
    }
    Poster_([state = State_, slot, task = std::move(task)] {
        {
            std::lock_guard lock(state->Mutex);
            if (state->Cancelled) return;
        }
        // Cancel runs on this same thread, so it cannot come while the task runs.
        std::exception_ptr error;
        try {
            task();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(state->Mutex);
        slot->Error = error;
        slot->Done = true;
        state->Changed.notify_all();
    });
    std::unique_lock lock(State_->Mutex);
    State_->Changed.wait(lock, [&] { return slot->Done || State_->Cancelled; });
    if (!slot->Done) throw TRefreshCancelled();
    if (slot->Error) std::rethrow_exception(slot->Error);
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

// TBackgroundLookup: a look-up too slow for a window thread (a dpkg-query scan
// of a program no package owns takes seconds) run on a thread of its own,
// with its result taken back on the owner's thread.
//
// Only the newest look-up counts: Start drops the result of one still
// running, and so does Drop. The owner never waits for a look-up, and a
// look-up never calls the owner: the worker threads are detached and hold
// only their work and a share of the state below, so an owner destroyed
// while one runs is never touched. The work must own what it uses for the
// same reason.
//
// The owner polls with DeliverResult while Pending() (a window: on a short
// timer) rather than being called from the worker. A call posted from
// another thread would ride on the toolkit's event queue, whose ordering
// ThreadSanitizer cannot see; here the result passes under one mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace tarnwick {

template <typename TResult>
class TBackgroundLookup {
public:
    // Takes the newest look-up's result, on the owner's thread.
    using TOnDone = std::function<void(TResult)>;

    explicit TBackgroundLookup(TOnDone onDone) : State_(std::make_shared<TState>()), OnDone_(std::move(onDone)) {}

    TBackgroundLookup(const TBackgroundLookup&) = delete;
    TBackgroundLookup& operator=(const TBackgroundLookup&) = delete;

    // Runs `work` on a new thread, dropping any earlier look-up. When no
    // thread can be had, the work runs here and onDone gets its result at once.
    void Start(std::function<TResult()> work) {
        uint64_t ticket = 0;
        {
            std::lock_guard lock(State_->Mutex);
            ticket = ++State_->Newest;
            State_->Finished.reset();
        }
        try {
            std::thread(&TBackgroundLookup::Run, State_, ticket, work).detach();
            Pending_ = true;
        } catch (const std::system_error&) {
            Drop();
            OnDone_(work());
        }
    }

    // Forgets the look-up running, if any: its result will not be delivered.
    void Drop() {
        std::lock_guard lock(State_->Mutex);
        ++State_->Newest;
        State_->Finished.reset();
        Pending_ = false;
    }

    // True from Start until its result is delivered or dropped.
    bool Pending() const { return Pending_; }

    // Hands the newest look-up's result to onDone when it has come; does
    // nothing while it is still running.
    void DeliverResult() {
        std::optional<TResult> result;
        {
            std::lock_guard lock(State_->Mutex);
            result.swap(State_->Finished);
        }
        if (!result) return;
        Pending_ = false;
        OnDone_(std::move(*result));
    }

private:
    struct TState {
        std::mutex Mutex;
        uint64_t Newest = 0;              // ticket of the look-up whose result counts
        std::optional<TResult> Finished;  // its result, not yet delivered
    };

    static void Run(std::shared_ptr<TState> state, uint64_t ticket, std::function<TResult()> work) {
        TResult result = work();
        std::lock_guard lock(state->Mutex);
        if (ticket == state->Newest) state->Finished = std::move(result);
    }

    std::shared_ptr<TState> State_;
    TOnDone OnDone_;
    bool Pending_ = false;  // the owner's thread only
};

}  // namespace tarnwick

// Runs steps of a worker's refresh on the window thread and waits for them,
// with a way out for shutdown: the window thread must be able to end a worker
// that is waiting for it, without either waiting for the other.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace tarnwick {

// Thrown on the worker by THandOver::Run when its task failed on the window
// thread, with that error's text.
class THandOverError : public std::runtime_error {
public:
    explicit THandOverError(const std::string& what) : std::runtime_error(what) {}
};

class THandOver {
public:
    // Queues a task on the window thread's event loop (it must not run it at once).
    using TPoster = std::function<void(std::function<void()>)>;

    explicit THandOver(TPoster poster);

    // On the worker: runs `task` on the window thread and returns true when it
    // has run; false, at once, when the hand-over is cancelled before the task
    // ran (a cancelled task never runs): the worker is to end, nothing more
    // reaches the window. A task that throws makes this throw THandOverError
    // with the same text.
    [[nodiscard]] bool Run(std::function<void()> task);

    // On the window thread: releases every waiting worker and refuses every
    // later hand-over. Tasks already queued do nothing when their turn comes.
    void Cancel();

    bool Cancelled() const;

private:
    struct TState;
    TPoster Poster_;
    std::shared_ptr<TState> State_;  // shared with queued tasks, which may outlive this object
};

}  // namespace tarnwick

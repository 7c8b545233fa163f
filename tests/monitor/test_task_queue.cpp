// Tasks handed to the window thread through the task queue: in order, each
// once, and a wake-up never missed.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "monitor/task_queue.h"

namespace tarnwick::testing {
namespace {

class TCountingWakeup final : public TWakeup {
public:
    std::atomic<int> Signals{0};
    int Fd() const override { return -1; }
    void Signal() override { ++Signals; }
    void Clear() override {}
};

TEST(TaskQueue, RunsTasksFromAnotherThreadInOrderAlsoWhenOneRunsTheQueueItself) {
    TCountingWakeup wakeup;
    TTaskQueue queue(wakeup);
    std::vector<int> ran;
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i) queue.Post([&ran, i] { ran.push_back(i); });
    });
    poster.join();
    EXPECT_EQ(wakeup.Signals, 3);
    // The first task runs a nested event loop (as a modal box does), which runs the queue again.
    queue.Post([&] {
        ran.push_back(3);
        queue.RunPending();
    });
    queue.Post([&] { ran.push_back(4); });
    queue.RunPending();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace tarnwick::testing

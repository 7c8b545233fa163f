// A refresh on a worker: its steps reach the window thread in order, and the
// window thread can always end a worker that waits for it.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "fakes/fake_event_loop.h"
#include "monitor/refresh_fixture.h"
#include "monitor/refresh_gate.h"
#include "monitor/worker_outlets.h"

namespace tarnwick::testing {
namespace {

class WorkerRefresh : public RefreshFixture {
protected:
    WorkerRefresh() {
        for (uint16_t i = 0; i < 7; ++i)
            Tables.TcpRows.push_back(TcpRow(i % 2 ? TTcpState::Established : TTcpState::TimeWait, Ipv4(192, 168, 1, 2), static_cast<uint16_t>(40000 + i),
                                            Ipv4(10, 0, 0, 5), 443, 1));
        Tables.UdpRows = {UdpRow({}, 6000, 1)};
    }

    // Runs one refresh on a worker thread, pumping the window's loop here.
    void RunOnWorker(size_t batchSize) {
        THandOver handOver([this](std::function<void()> task) { Loop.Post(std::move(task)); });
        TWorkerOutlets outlets(handOver, Outlets, batchSize);
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            Runner.Run(outlets);
            outlets.Flush();
            finished = true;
        });
        Loop.PumpUntil([&] { return finished.load(); });
        worker.join();
    }

    TEventLoop Loop;
};

TEST_F(WorkerRefresh, StepsArriveInTheOrderOfARefreshOnTheWindowThread) {
    auto startAfresh = [this] {
        Connections.ClearSeen();
        Connections.RemoveUnseen();
        Outlets.Grid = TGridRows();
        Outlets.Calls.clear();
    };
    Runner.Run(Outlets);
    const auto direct = Outlets.Calls;
    for (size_t batch : {1u, 3u, 512u}) {
        startAfresh();
        RunOnWorker(batch);
        EXPECT_EQ(Outlets.Calls, direct) << "batch size " << batch;
    }
    EXPECT_EQ(Loop.Queued(), 0u);
}

TEST_F(WorkerRefresh, ARefreshWhoseHandOverIsCancelledEndsBeforeItsWaitForNames) {
    THandOver handOver([this](std::function<void()> task) { Loop.Post(std::move(task)); });
    TWorkerOutlets outlets(handOver, Outlets);
    handOver.Cancel();
    Runner.Run(outlets);
    outlets.Flush();
    EXPECT_TRUE(outlets.Stopping());
    EXPECT_TRUE(Names.ResolveRequests.empty());
    EXPECT_TRUE(Outlets.Calls.empty());
    EXPECT_EQ(Loop.Queued(), 0u);
}

TEST(HandOver, CancelReleasesAWaitingWorkerAndItsTaskNeverRuns) {
    TEventLoop loop;
    THandOver handOver([&](std::function<void()> task) { loop.Post(std::move(task)); });
    bool ran = false;
    auto worker = std::async(std::launch::async, [&] { return handOver.Run([&] { ran = true; }); });
    while (loop.Queued() == 0) std::this_thread::yield();
    // The window thread shuts down instead of serving the worker: it must not wait forever.
    handOver.Cancel();
    EXPECT_FALSE(worker.get());
    loop.RunAll();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(handOver.Run([] {}));
}

TEST(HandOver, ATaskErrorReachesTheWorker) {
    TEventLoop loop;
    THandOver handOver([&](std::function<void()> task) { loop.Post(std::move(task)); });
    std::atomic<bool> done{false};
    auto worker = std::async(std::launch::async, [&] {
        try {
            (void)handOver.Run([] { throw std::runtime_error("window gone"); });
        } catch (...) {
            done = true;
            throw;
        }
    });
    loop.PumpUntil([&] { return done.load(); });
    EXPECT_THROW(worker.get(), std::runtime_error);
}

TEST(RefreshGate, RequestsDuringARefreshBecomeOneRefreshAfterIt) {
    TRefreshGate gate;
    ASSERT_TRUE(gate.TryBegin());
    EXPECT_FALSE(gate.TryBegin());  // a tick
    EXPECT_FALSE(gate.TryBegin());  // a view command
    EXPECT_FALSE(gate.TryBegin());  // a kill's refresh from inside the rule check
    EXPECT_TRUE(gate.End());        // one more refresh, gate still closed for it
    EXPECT_TRUE(gate.Running());
    EXPECT_FALSE(gate.End());
    EXPECT_FALSE(gate.Running());
    EXPECT_TRUE(gate.TryBegin());
}

}  // namespace
}  // namespace tarnwick::testing

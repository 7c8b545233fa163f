// Refreshes from the timer, the view commands, the refresh command and rule
// checks never overlap; requests made meanwhile become one refresh after the
// running one; closing never deadlocks with a worker waiting for the window.
#include "ui/main_form_fixture.h"

#include <QAction>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "common/thread_gate.h"
#include "platform/descriptor_wait.h"

namespace tarnwick::testing {
namespace {

using RefreshWorker = MainFormFixture;

TEST_F(RefreshWorker, RequestsDuringARefreshBecomeOneRefreshAfterIt) {
    Tables.Hold();
    TMain_F& form = Create();  // the first refresh starts and is held in its fetch
    ASSERT_TRUE(QTest::qWaitFor([&] { return Tables.Fetches == 1; }, 5000));
    form.Timer1Timer();
    form.actionUDP->trigger();
    form.RefreshConnections();
    EXPECT_EQ(Tables.Fetches, 1);
    EXPECT_TRUE(form.RefreshRunning());
    Tables.Release();
    ASSERT_TRUE(WaitForRefreshes(2));
    QTest::qWait(50);
    EXPECT_EQ(Tables.Fetches, 2);
    EXPECT_EQ(form.CompletedRefreshes(), 2);
    EXPECT_FALSE(form.RefreshRunning());
}

TEST_F(RefreshWorker, ARefreshAskedForByARuleCheckRunsAfterAndLeavesTheSnapshotAlone) {
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    // A new established connection comes; its rule check asks for a refresh (as a kill does).
    Tables.Tables.TcpRows.push_back(TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40001, Ipv4(10, 0, 0, 6), 22, 10));
    std::vector<TInetAddress> seenBefore, seenAfter;
    int fetchesDuringCheck = -1;
    form.Session().OnCheckRules = [&](int row, const TLogConnection&) {
        seenBefore.push_back(form.Snapshot().TcpRow(static_cast<size_t>(row)).RemoteAddr);
        form.RefreshConnections();
        fetchesDuringCheck = Tables.Fetches;
        seenAfter.push_back(form.Snapshot().TcpRow(static_cast<size_t>(row)).RemoteAddr);
    };
    const int fetches = Tables.Fetches;
    form.RefreshConnections();  // on the window thread
    EXPECT_EQ(fetchesDuringCheck, fetches + 1);
    EXPECT_EQ(seenBefore, std::vector<TInetAddress>{Ipv4(10, 0, 0, 6)});
    EXPECT_EQ(seenAfter, seenBefore);
    form.Session().OnCheckRules = nullptr;
    ASSERT_TRUE(WaitForRefreshes(3));  // the asked-for refresh, on a worker
    EXPECT_EQ(Tables.Fetches, fetches + 2);
}

TEST_F(RefreshWorker, ARuleCheckOnTheWorkerSeesTheNewConnectionAfterItsLogLine) {
    TMain_F& form = Create();
    std::vector<std::string> order;
    form.Session().OnCheckRules = [&](int row, const TLogConnection& c) {
        order.push_back("rules " + std::to_string(row) + " " + c.RemoteAddress + " " + std::to_string(c.LocalPort) +
                        " " + std::to_string(c.RemotePort) + " after " + std::to_string(form.Log().Count()) + " lines");
    };
    ASSERT_TRUE(WaitForRefreshes(1));
    EXPECT_EQ(order, std::vector<std::string>{"rules 1 10.0.0.5 40000 443 after 1 lines"});
}

TEST_F(RefreshWorker, ClosingWhileTheWorkerWaitsForTheWindowDoesNotDeadlock) {
    TMain_F& form = Create();
    form.show();
    // The worker has fetched and now asks the window thread for the grid's size;
    // this thread does not serve it, it closes the window instead. (It waits
    // outside the event loop, which would serve the question.)
    TWatchedFd asked{Wakeup.Fd()};
    ASSERT_TRUE(WaitForReadable({&asked, 1}, 5000));
    ASSERT_TRUE(asked.Ready) << "the worker asked nothing of the window";
    ASSERT_GE(Processes.Snapshots, 1);
    Boxes.Answers = {true};
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(form.close());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(form.RefreshRunning() && form.CompletedRefreshes() > 0);
    // Hand-overs still queued for the closed window do nothing.
    QTest::qWait(20);
    Form.reset();
}

TEST_F(RefreshWorker, DestroyingTheWindowWithARefreshHeldInItsFetchWaitsForIt) {
    Tables.Hold();
    Create();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Tables.Holding(); }, 5000));
    // The fetch is let go once destroying has begun. Destroying must wait
    // for the worker to leave it, and then return: a deadlock ends the
    // program here rather than holding the run.
    TGate destroying;
    std::promise<void> destroyed;
    std::thread releaser([&, returned = destroyed.get_future()] {
        destroying.Wait();
        Tables.Release();
        if (returned.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
            std::fprintf(stderr, "destroying the window did not return within 10 s of the fetch's release\n");
            std::abort();
        }
    });
    destroying.Open();
    Form.reset();
    const bool workerLeftTheFetch = !Tables.Holding();
    destroyed.set_value();
    releaser.join();
    EXPECT_TRUE(workerLeftTheFetch);
}

}  // namespace
}  // namespace tarnwick::testing

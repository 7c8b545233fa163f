// The refresh scheduler over an event-loop fake: refreshes never overlap,
// shutdown is safe in every state, and no event of a refresh is lost.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "fakes/fake_event_loop.h"
#include "monitor/refresh_fixture.h"
#include "monitor/refresh_scheduler.h"

namespace tarnwick::testing {
namespace {

// Name lookups that fail for one address, as a broken resolver would.
class TFailingNameLookup final : public TNameLookup {
public:
    explicit TFailingNameLookup(TNameLookup& names) : Names_(names) {}
    std::optional<uint32_t> FailFor;
    std::optional<TServiceEntry> ServiceByPort(uint16_t port) override { return Names_.ServiceByPort(port); }
    void ResolveHosts(const std::vector<uint32_t>& addrs, std::chrono::milliseconds budget) override {
        Names_.ResolveHosts(addrs, budget);
    }
    std::optional<std::string> HostByAddr(uint32_t addr) override {
        if (FailFor == addr) throw std::runtime_error("resolver failed");
        return Names_.HostByAddr(addr);
    }
    std::string ComputerName() override { return Names_.ComputerName(); }

private:
    TNameLookup& Names_;
};

// Outlets whose steps may run a test's action first (a modal box's event loop, a failure).
class TInterceptedOutlets final : public TRefreshOutlets {
public:
    explicit TInterceptedOutlets(TRecordingOutlets& record) : Record(record) {}
    TRecordingOutlets& Record;
    std::function<void(const std::string&)> BeforeLog;

    int GridRowCount() override { return Record.GridRowCount(); }
    void SetGridRowCount(int rows) override { Record.SetGridRowCount(rows); }
    void WriteGridRow(int row, const TConnectionRow& texts) override { Record.WriteGridRow(row, texts); }
    void AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) override {
        if (BeforeLog) BeforeLog(text);
        Record.AddLog(text, kind, connection);
    }
    void CheckRules(int row, const TLogConnection& connection) override { Record.CheckRules(row, connection); }
};

class RefreshScheduler : public RefreshFixture {
protected:
    RefreshScheduler() {
        for (uint8_t i = 1; i <= 4; ++i)
            Tables.TcpRows.push_back(TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), static_cast<uint16_t>(40000 + i),
                                            Ipv4(10, 0, 0, i), 443, 1));
        Scheduler.OnFinished = [this] { ++Finished; };
    }
    ~RefreshScheduler() override { Scheduler.Stop(); }

    std::vector<std::string> ConnectedLines() const {
        std::vector<std::string> lines;
        for (const std::string& log : Outlets.Logs)
            if (log.find("Connected to") != std::string::npos) lines.push_back(log);
        return lines;
    }

    TEventLoop Loop;
    TFailingNameLookup FailingNames{Names};
    TRefresh FailingRunner{Snapshot, Connections, TPlatformServices{Tables, Processes, FailingNames}, View};
    TInterceptedOutlets Window{Outlets};
    TRefreshScheduler Scheduler{FailingRunner, Window, [this](std::function<void()> task) { Loop.Post(std::move(task)); }};
    int Finished = 0;
};

TEST_F(RefreshScheduler, RequestsDuringARefreshBecomeOneRefreshAfterItAndNoneAfterStop) {
    Scheduler.Request();
    Scheduler.Request();
    Scheduler.RunNow();  // runs nothing here while the worker runs
    EXPECT_EQ(Finished, 0);
    ASSERT_TRUE(Loop.PumpUntil([&] { return Finished == 2; }));
    EXPECT_FALSE(Scheduler.Running());
    EXPECT_EQ(ConnectedLines().size(), 4u);  // the second refresh found nothing new

    Scheduler.Stop();
    Scheduler.Request();
    Scheduler.RunNow();
    Loop.RunAll();
    EXPECT_EQ(Finished, 2);
    EXPECT_FALSE(Scheduler.Running());
}

TEST_F(RefreshScheduler, StopFromInsideAHandOverTaskLetsTheTaskFinishItsBatch) {
    // The first log line opens a "modal box" whose event loop delivers the
    // user's Exit: the worker is released and ends while the task still runs.
    bool stopped = false;
    Window.BeforeLog = [&](const std::string&) {
        if (stopped) return;
        stopped = true;
        Scheduler.Stop();
    };
    Scheduler.Request();
    ASSERT_TRUE(Loop.PumpUntil([&] { return stopped && Loop.Queued() == 0; }));
    // The rest of the batch reached the window although its worker is gone.
    EXPECT_EQ(ConnectedLines().size(), 4u);
    Scheduler.Request();
    Loop.RunAll();
    EXPECT_EQ(Finished, 0);  // the refresh cut short by the stop never reports as done
}

TEST_F(RefreshScheduler, AFailingStepLosesNoOtherEventOfItsBatch) {
    Window.BeforeLog = [](const std::string& text) {
        if (text.find("10.0.0.2") != std::string::npos) throw std::runtime_error("outlet failed");
    };
    Scheduler.Request();
    ASSERT_TRUE(Loop.PumpUntil([&] { return Finished == 1; }));
    EXPECT_EQ(ConnectedLines().size(), 3u);  // every line but the one that failed
}

TEST_F(RefreshScheduler, ARefreshThatFailsStillHandsOverWhatItReported) {
    FailingNames.FailFor = Ipv4(10, 0, 0, 3).Ipv4Field();
    Scheduler.Request();
    ASSERT_TRUE(Loop.PumpUntil([&] { return Finished == 1; }));
    EXPECT_EQ(ConnectedLines().size(), 2u);  // the rows before the failure

    // The rest were never reported, so the list does not hold them either:
    // they come as new once the names work again.
    FailingNames.FailFor.reset();
    Scheduler.Request();
    ASSERT_TRUE(Loop.PumpUntil([&] { return Finished == 2; }));
    EXPECT_EQ(ConnectedLines().size(), 4u);
}

TEST_F(RefreshScheduler, DestroyedWithTasksStillQueuedTheyDoNothing) {
    auto scheduler = std::make_unique<TRefreshScheduler>(Runner, Outlets,
                                                         [this](std::function<void()> task) { Loop.Post(std::move(task)); });
    int finished = 0;
    scheduler->OnFinished = [&] { ++finished; };
    scheduler->Request();
    // Let the worker queue its first hand-over, then end the scheduler without serving it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Loop.Queued() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    scheduler.reset();
    Loop.RunAll();
    EXPECT_EQ(finished, 0);
    EXPECT_TRUE(Outlets.Calls.empty());
}

}  // namespace
}  // namespace tarnwick::testing

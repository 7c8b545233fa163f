// The capture session over a fake packet source: its states and the controls
// each allows, the filter taken at Start, the list with its fresh start at
// 200 packets, the texts made from the kept numbers and payload, the batched
// announcements to the views, and the packets its own thread reads and hands
// over in batches.
#include "capture/capture_session.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_packet_source.h"

namespace tarnwick::testing {
namespace {

using TState = TCaptureState;

class CaptureSession : public ::testing::Test {
protected:
    // Hands `bytes` to the session through the capture opened last.
    void Deliver(TBytes bytes) {
        Source.Latest().Push(std::move(bytes));
        Session.ReadCapture(0);
    }
    void StartWith(TCaptureFilter filter = {}) { ASSERT_TRUE(Session.Start(filter).Ok()); }

    TFakePacketSource Source;
    TCaptureSession Session{Source};
};

TEST_F(CaptureSession, StartPauseResumeAndStopWalkTheStates) {
    EXPECT_EQ(Session.State(), TState::Idle);
    StartWith();
    EXPECT_EQ(Session.State(), TState::Capturing);
    ASSERT_EQ(Session.Captures(), 1u);

    Session.Pause();
    EXPECT_EQ(Session.State(), TState::Paused);
    Deliver(MakeUdpPacket(1, 2, "dropped while paused"));
    EXPECT_EQ(Session.RecordCount(), 0u);
    Session.Resume();
    EXPECT_EQ(Session.State(), TState::Capturing);
    Deliver(MakeUdpPacket(1, 2, "kept"));

    Session.Stop();
    EXPECT_EQ(Session.State(), TState::Idle);
    EXPECT_EQ(Source.Opened.at(0)->Closes, 1);
    EXPECT_EQ(Session.RecordCount(), 1u);  // the list stays until the next Start

    StartWith();  // afresh: empty list, new captures
    EXPECT_EQ(Session.RecordCount(), 0u);
    EXPECT_EQ(Source.Opened.size(), 2u);

    // A stop while paused ends the pause: the next start lists again.
    Session.Pause();
    Session.Stop();
    StartWith();
    Deliver(MakeUdpPacket(1, 2, "listed"));
    EXPECT_EQ(Session.RecordCount(), 1u);
}

TEST_F(CaptureSession, WithoutAnyInterfaceItCapturesNothingAndCannotPause) {
    Source.Addresses.clear();
    StartWith();
    EXPECT_EQ(Session.State(), TState::Capturing);
    Session.Pause();
    EXPECT_EQ(Session.State(), TState::Capturing);
}

TEST_F(CaptureSession, AStartThatOpensNothingSaysWhyAndStaysIdle) {
    StartWith();
    Deliver(MakeUdpPacket(1, 2, "old"));
    Session.Stop();
    Source.Refusal = "eth0: You don't have permission to perform this capture";
    const TStatus result = Session.Start({});
    ASSERT_FALSE(result.Ok());
    EXPECT_EQ(result.Failure().Text(), *Source.Refusal);
    EXPECT_EQ(Session.State(), TState::Idle);
    EXPECT_EQ(Session.RecordCount(), 0u);  // emptied before the start was tried
}

// The fake source's captures, with a packet handler that throws after each
// packet it hands on while `Failing` is set.
class TFailingHandlerSource final : public TPacketSource {
public:
    explicit TFailingHandlerSource(TPacketSource& inner) : Inner_(inner) {}
    bool Failing = false;

    TResult<TPacketCaptures> OpenCaptures(const std::function<void(const TFailure&)>& onError) override {
        auto captures = Inner_.OpenCaptures(onError);
        if (captures) {
            for (auto& capture : *captures) capture = std::make_unique<TCapture>(std::move(capture), Failing);
        }
        return captures;
    }

private:
    class TCapture final : public TPacketCapture {
    public:
        TCapture(std::unique_ptr<TPacketCapture> inner, const bool& failing)
            : Inner_(std::move(inner)), Failing_(failing) {}
        const std::string& LocalAddress() const override { return Inner_->LocalAddress(); }
        const std::string& InterfaceName() const override { return Inner_->InterfaceName(); }
        int SelectableFd() const override { return Inner_->SelectableFd(); }
        TCaptureStats Stats() override { return Inner_->Stats(); }
        TStatus ReadPackets(const TOnPacket& onPacket, int maxPackets) override {
            return Inner_->ReadPackets(
                [&](const uint8_t* bytes, size_t length, uint64_t timeNs) {
                    onPacket(bytes, length, timeNs);
                    if (Failing_) throw std::runtime_error("handler failed");
                },
                maxPackets);
        }

    private:
        std::unique_ptr<TPacketCapture> Inner_;
        const bool& Failing_;
    };

    TPacketSource& Inner_;
};

TEST_F(CaptureSession, AfterAThrowingHandlerStopClosesEveryCaptureAndStartWorks) {
    Source.Addresses = {"10.0.0.1", "10.0.0.2"};
    TFailingHandlerSource failing(Source);
    TCaptureSession session(failing);
    ASSERT_TRUE(session.Start({}).Ok());
    failing.Failing = true;
    Source.Latest(1).Push(MakeUdpPacket(1, 2, "listed, then thrown on"));
    EXPECT_THROW(session.ReadCapture(1), std::runtime_error);
    EXPECT_EQ(session.RecordCount(), 1u);

    session.Stop();
    EXPECT_EQ(session.State(), TState::Idle);
    EXPECT_EQ(session.Captures(), 0u);
    for (const auto& state : Source.Opened) EXPECT_EQ(state->Closes, 1) << state->Address;

    failing.Failing = false;
    ASSERT_TRUE(session.Start({}).Ok());
    EXPECT_EQ(session.State(), TState::Capturing);
    Source.Latest(0).Push(MakeUdpPacket(1, 2, "after"));
    session.ReadCapture(0);
    ASSERT_EQ(session.RecordCount(), 1u);
    EXPECT_EQ(session.CellText(0, 6), "after");
}

TEST_F(CaptureSession, EachStateEnablesItsControls) {
    auto controls = [](TState state, bool recording = false) {
        const TCaptureControls c = CaptureControlsIn(state, recording);
        return std::vector<bool>{c.Start, c.Pause, c.PauseDown, c.Stop, c.Filter, c.Record};
    };
    EXPECT_EQ(controls(TState::Idle), (std::vector<bool>{true, false, false, false, true, false}));
    EXPECT_EQ(controls(TState::Capturing), (std::vector<bool>{false, true, false, true, false, true}));
    EXPECT_EQ(controls(TState::Capturing, true), (std::vector<bool>{false, true, false, true, false, false}));
    EXPECT_EQ(controls(TState::Paused), (std::vector<bool>{false, true, true, false, false, false}));
}

TEST_F(CaptureSession, ListsWhatTheFilterOfTheLastStartLetsThrough) {
    TCaptureFilter web;
    web.Protocol = "TCP";
    web.Addr1 = "10.0.0.5";
    web.Port1 = "80";
    StartWith(web);
    Deliver(MakeIpPacket(6, {10, 0, 0, 5}, {10, 0, 0, 9}, 80, 40000, {'a'}));    // from A1:P1
    Deliver(MakeIpPacket(6, {10, 0, 0, 9}, {10, 0, 0, 5}, 40000, 80, {'b'}));    // to A1:P1
    Deliver(MakeIpPacket(17, {10, 0, 0, 5}, {10, 0, 0, 9}, 80, 40000, {'u'}));   // not TCP
    Deliver(MakeIpPacket(6, {10, 0, 0, 5}, {10, 0, 0, 9}, 8080, 40000, {'d'}));  // another port
    ASSERT_EQ(Session.RecordCount(), 2u);
    EXPECT_EQ(Session.CellText(0, 6), "a");
    EXPECT_EQ(Session.CellText(1, 6), "b");

    StartWith();  // a new start, a new filter: everything
    Deliver(MakeIpPacket(17, {10, 0, 0, 5}, {10, 0, 0, 9}, 80, 40000, {'u'}));
    EXPECT_EQ(Session.RecordCount(), 1u);
}

TEST_F(CaptureSession, ThePacketThatFillsTheTwoHundredthSlotStartsTheListAfresh) {
    StartWith();
    for (int n = 1; n <= 199; ++n) Deliver(MakeUdpPacket(1000, 2000, "p" + std::to_string(n)));
    ASSERT_EQ(Session.RecordCount(), 199u);
    EXPECT_EQ(Session.CellText(198, 6), "p199");

    Deliver(MakeUdpPacket(1000, 2000, "p200"));
    EXPECT_EQ(Session.RecordCount(), 0u);
    Deliver(MakeUdpPacket(1000, 2000, "p201"));
    ASSERT_EQ(Session.RecordCount(), 1u);
    EXPECT_EQ(Session.CellText(0, 6), "p201");
    EXPECT_EQ(Session.ListedPackets(), 201);
}

TEST_F(CaptureSession, CellsAndDumpsAreMadeFromWhatWasKept) {
    StartWith();
    Deliver(MakeUdpPacket(5353, 53, "ABCDEFGHIJKLMN\r\n"));
    Deliver(MakeIpPacket(17, {1, 2, 3, 4}, {5, 6, 7, 8}, 1, 2, {0, 'x', 0x14, 0x13, 0x7F}));

    std::vector<std::string> cells;
    for (size_t column = 0; column < 7; ++column) cells.push_back(Session.CellText(0, column));
    EXPECT_EQ(cells, (std::vector<std::string>{"UDP", "10.0.0.1", "5353", "10.0.0.2", "53", "16",
                                               "ABCDEFGHIJKLMN\r\n"}));
    EXPECT_EQ(Session.HexDump(0),
              "41 42 43 44 45 46 47 48   |  ABCDEFGH\n"
              "49 4A 4B 4C 4D 4E 0D 0A   |  IJKLMN..");
    EXPECT_EQ(Session.TextDump(0), "ABCDEFGHIJKLMN..");

    EXPECT_EQ(Session.CellText(1, 6), "");  // the Data cell stops at the first zero byte
    EXPECT_EQ(Session.CellText(1, 5), "5");
    EXPECT_EQ(Session.TextDump(1), ".x\x14.\x7F");

    EXPECT_EQ(Session.CellText(2, 0), "");  // beyond the list
    EXPECT_EQ(Session.HexDump(2), "");
    EXPECT_EQ(Session.TextDump(2), "");
}

TEST_F(CaptureSession, ViewsHearOfAppendedRowsAndFreshStartsInBatches) {
    StartWith();
    Session.TakeListChange();
    EXPECT_FALSE(Session.HasListChange());
    for (const char* payload : {"a", "b", "c"}) Deliver(MakeUdpPacket(1, 2, payload));
    EXPECT_EQ(Session.AnnouncedRecord(0), nullptr);  // not announced yet
    TListChange change = Session.TakeListChange();
    EXPECT_FALSE(change.Reset);
    EXPECT_EQ(change.First, 0u);
    EXPECT_EQ(change.Count, 3u);

    Deliver(MakeUdpPacket(1, 2, "d"));
    change = Session.TakeListChange();
    EXPECT_EQ(change.First, 3u);
    EXPECT_EQ(change.Count, 1u);

    // After a fresh start the views keep reading the rows they were told of
    // until they hear of it.
    StartWith();
    Deliver(MakeUdpPacket(1, 2, "e"));
    ASSERT_NE(Session.AnnouncedRecord(3), nullptr);
    EXPECT_EQ(Session.AnnouncedRecord(3)->Cell(6), "d");
    EXPECT_TRUE(Session.HasUnannouncedClear());
    change = Session.TakeListChange();
    EXPECT_TRUE(change.Reset);
    EXPECT_EQ(change.First + change.Count, 1u);
    EXPECT_EQ(Session.AnnouncedRecord(0)->Cell(6), "e");
    EXPECT_EQ(Session.AnnouncedRecord(1), nullptr);
}


// The session's own thread reads while the owner is busy elsewhere: the
// owner takes what waits when it gets round to it.
class CaptureHandOver : public ::testing::Test {
protected:
    void SetUp() override {
        Session.ReadInBackground();
        ASSERT_TRUE(Session.Start({}).Ok());
    }
    // Pushes packets "first" .. "last" (their payloads are their numbers).
    void Push(int first, int last) {
        for (int n = first; n <= last; ++n) Source.Latest().Push(MakeUdpPacket(1, 2, std::to_string(n)));
    }
    // Waits until the session's thread has taken every packet pushed off the
    // capture; it lists them before its read ends, and Pause, Start and Stop
    // wait for that read.
    void AwaitRead() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Source.Latest().Waiting() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(Source.Latest().Waiting(), 0u);
    }
    // Takes batches as they are announced until `listed` packets were listed.
    void TakeUntil(long long listed) {
        pollfd batch{Session.BatchFd(), POLLIN, 0};
        while (Session.ListedPackets() < listed && ::poll(&batch, 1, 10000) == 1) Session.TakeWaitingPackets();
        ASSERT_EQ(Session.ListedPackets(), listed);
    }
    std::vector<std::string> Listed() const {
        std::vector<std::string> payloads;
        for (size_t row = 0; row < Session.RecordCount(); ++row) payloads.push_back(Session.CellText(row, 6));
        return payloads;
    }
    static std::vector<std::string> Numbers(int first, int last) {
        std::vector<std::string> numbers;
        for (int n = first; n <= last; ++n) numbers.push_back(std::to_string(n));
        return numbers;
    }

    TFakePacketSource Source;
    TCaptureSession Session{Source};
};

TEST_F(CaptureHandOver, ASlowOwnerGetsTheListAsIfEveryPacketHadBeenListedInTurn) {
    Push(1, 150);
    TakeUntil(150);
    EXPECT_EQ(Listed(), Numbers(1, 150));
    Session.TakeListChange();

    // 2,230 more while the owner looks away, then one take (the stop's): the
    // list started afresh eleven times on the way (at 200, 400, ... 2,200),
    // and only the packets since the last fresh start waited for it.
    Push(151, 2380);
    AwaitRead();
    Session.Stop();
    EXPECT_EQ(Session.ListedPackets(), 2380);
    EXPECT_EQ(Listed(), Numbers(2201, 2380));
    EXPECT_TRUE(Session.TakeListChange().Reset);
}

TEST_F(CaptureHandOver, PauseAndStartWorkWithTheSessionsThread) {
    Push(1, 3);
    AwaitRead();
    Session.Pause();
    Push(4, 5);
    AwaitRead();  // read and dropped
    Session.Resume();
    Push(6, 6);
    TakeUntil(4);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"1", "2", "3", "6"}));

    // A new start empties the list of what was read before it, taken or not.
    Push(7, 8);
    AwaitRead();
    ASSERT_TRUE(Session.Start({}).Ok());
    Session.TakeWaitingPackets();
    EXPECT_EQ(Session.RecordCount(), 0u);
    EXPECT_EQ(Session.ListedPackets(), 6);
    Session.Stop();
    EXPECT_EQ(Source.Opened.at(0)->Closes, 1);
}

}  // namespace
}  // namespace tarnwick::testing

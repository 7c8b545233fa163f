// The capture component over a fake packet source: states and transitions,
// what OnCap hands over, pausing, errors, and that every descriptor is closed
// exactly once however the captures end.
#include <gtest/gtest.h>

#include <poll.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "capture/cap_ip.h"
#include "capture/packet_dump.h"
#include "fakes/fake_packet_source.h"

namespace tarnwick::testing {
namespace {

using TState = Tcap_ip::TState;

struct TSeen {
    std::string Ip, Proto, SourceIP, DestIP, SourcePort, DestPort;
    size_t HeaderSize = 0;
    std::string Payload;
    std::string Interface;
    uint64_t TimeNs = 0;
};

class CapIp : public ::testing::Test {
protected:
    CapIp() {
        Cap.OnCap = [this](const TCapturedPacket& p) {
            Seen.push_back({std::string(p.Ip), ProtocolText(p), SourceAddressText(p), DestAddressText(p),
                            PortText(p.SourcePort), PortText(p.DestPort), p.HeaderSize,
                            std::string(reinterpret_cast<const char*>(p.Data), p.DataSize), std::string(p.Interface),
                            p.TimeNs});
        };
        Cap.OnError = [this](const TFailure& failure) { Errors.push_back(failure.Text()); };
    }

    static bool Readable(int fd) {
        pollfd entry{fd, POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN);
    }

    TFakePacketSource Source;
    Tcap_ip Cap{Source};
    std::vector<TSeen> Seen;
    std::vector<std::string> Errors;
};

TEST_F(CapIp, WalksThroughItsStatesAndReopensOnRestart) {
    Source.Addresses = {"10.0.0.1", "192.168.1.5"};
    EXPECT_EQ(Cap.State(), TState::Created);
    Cap.PauseCapture();  // before any start: nothing to pause
    EXPECT_FALSE(Cap.Paused());

    EXPECT_TRUE(Cap.StartCapture().Ok());
    EXPECT_EQ(Cap.State(), TState::Capturing);
    ASSERT_EQ(Cap.Captures(), 2u);
    EXPECT_EQ(Cap.LocalAddress(1), "192.168.1.5");
    EXPECT_NE(Cap.SelectableFd(0), Cap.SelectableFd(1));
    EXPECT_EQ(Cap.SelectableFd(2), -1);

    EXPECT_TRUE(Cap.StartCapture().Ok());  // already open: nothing new is opened
    EXPECT_EQ(Source.OpenCalls, 1);

    Cap.PauseCapture();
    EXPECT_EQ(Cap.State(), TState::Paused);
    Cap.PauseCapture();
    EXPECT_EQ(Cap.State(), TState::Capturing);

    Cap.StopCapture();
    EXPECT_EQ(Cap.State(), TState::Stopped);
    EXPECT_EQ(Cap.Captures(), 0u);
    for (const auto& state : Source.Opened) EXPECT_EQ(state->Closes, 1) << state->Address;
    Cap.PauseCapture();  // nothing open: Paused does not move
    EXPECT_FALSE(Cap.Paused());
    Cap.StopCapture();  // again: nothing left to close

    EXPECT_TRUE(Cap.StartCapture().Ok());
    EXPECT_EQ(Cap.State(), TState::Capturing);
    EXPECT_EQ(Source.OpenCalls, 2);
    ASSERT_EQ(Source.Opened.size(), 4u);
    EXPECT_TRUE(Source.Opened[2]->Open());
    for (const auto& state : Source.Opened) EXPECT_LE(state->Closes, 1) << state->Address;
}

TEST_F(CapIp, DestructionClosesOpenCapturesOnceAndStoppedOnesNever) {
    {
        TFakePacketSource source;
        source.Addresses = {"10.0.0.1", "10.0.0.2"};
        {
            Tcap_ip cap(source);
            EXPECT_TRUE(cap.StartCapture().Ok());
            cap.StopCapture();
            EXPECT_TRUE(cap.StartCapture().Ok());
        }
        ASSERT_EQ(source.Opened.size(), 4u);
        for (const auto& state : source.Opened) EXPECT_EQ(state->Closes, 1) << state->Address;
    }
}

TEST_F(CapIp, HandsOverEachPacketSplitWithTheAddressOfItsCapture) {
    Source.Addresses = {"10.0.0.1", "10.0.0.2"};
    EXPECT_TRUE(Cap.StartCapture().Ok());
    TFakeCaptureState& second = Source.Latest(1);
    second.Name = "eth1";
    second.Push(MakeUdpPacket(5353, 53, "query"), 1234567890123456789u);
    second.Push(MakeIpPacket(6, {1, 2, 3, 4}, {5, 6, 7, 8}, 443, 50000, {'h', 'i'}));
    second.Push(MakeIpPacket(1, {1, 2, 3, 4}, {5, 6, 7, 8}, 8, 0, {0, 1}));
    second.Push(MakeIpPacket(47, {1, 2, 3, 4}, {5, 6, 7, 8}, 0, 0, {9}));
    second.Push(TBytes(12, 0x45));  // no complete IP header: dropped
    EXPECT_TRUE(Readable(Cap.SelectableFd(1)));
    EXPECT_FALSE(Readable(Cap.SelectableFd(0)));

    Cap.ReadPacket(1);
    ASSERT_EQ(Seen.size(), 4u);
    EXPECT_EQ(Seen[0].Ip, "10.0.0.2");
    EXPECT_EQ(Seen[0].Proto, "UDP");
    EXPECT_EQ(Seen[0].SourceIP, "10.0.0.1");
    EXPECT_EQ(Seen[0].DestIP, "10.0.0.2");
    EXPECT_EQ(Seen[0].SourcePort, "5353");
    EXPECT_EQ(Seen[0].DestPort, "53");
    EXPECT_EQ(Seen[0].HeaderSize, 28u);
    EXPECT_EQ(Seen[0].Payload, "query");
    EXPECT_EQ(Seen[0].Interface, "eth1");
    EXPECT_EQ(Seen[0].TimeNs, 1234567890123456789u);
    EXPECT_EQ(Seen[1].Proto, "TCP");
    EXPECT_EQ(Seen[1].SourcePort, "443");
    EXPECT_EQ(Seen[1].DestPort, "50000");
    EXPECT_EQ(Seen[1].HeaderSize, 40u);
    EXPECT_EQ(Seen[1].Payload, "hi");
    EXPECT_EQ(Seen[2].Proto, "ICMP");
    EXPECT_EQ(Seen[2].SourcePort, "8");
    EXPECT_EQ(Seen[2].DestPort, "0");
    EXPECT_EQ(Seen[3].Proto, "");
    EXPECT_EQ(Seen[3].SourcePort, "0");
    EXPECT_EQ(Seen[3].HeaderSize, 20u);
    EXPECT_FALSE(Readable(Cap.SelectableFd(1)));
    EXPECT_TRUE(Errors.empty());
}

TEST_F(CapIp, ReadsAtMostOneBatchPerCallKeepingTheOrder) {
    EXPECT_TRUE(Cap.StartCapture().Ok());
    TFakeCaptureState& capture = Source.Latest();
    for (int n = 0; n < 100; ++n) capture.Push(MakeUdpPacket(1000, 2000, std::to_string(n)));
    Cap.ReadPacket(0, 64);
    EXPECT_EQ(Seen.size(), 64u);
    EXPECT_TRUE(Readable(Cap.SelectableFd(0)));  // the rest still waits
    Cap.ReadPacket(0, 64);
    ASSERT_EQ(Seen.size(), 100u);
    for (int n = 0; n < 100; ++n) EXPECT_EQ(Seen[static_cast<size_t>(n)].Payload, std::to_string(n));
    EXPECT_EQ(Cap.Stats().Received, 100u);
}

TEST_F(CapIp, PausedCapturesReadAndDropPackets) {
    EXPECT_TRUE(Cap.StartCapture().Ok());
    TFakeCaptureState& capture = Source.Latest();
    Cap.PauseCapture();
    capture.Push(MakeUdpPacket(1, 2, "lost"));
    Cap.ReadPacket(0);
    EXPECT_TRUE(Seen.empty());
    EXPECT_TRUE(capture.Queue.empty());  // taken off the capture all the same
    Cap.PauseCapture();
    capture.Push(MakeUdpPacket(1, 2, "kept"));
    Cap.ReadPacket(0);
    ASSERT_EQ(Seen.size(), 1u);
    EXPECT_EQ(Seen[0].Payload, "kept");

    Cap.OnCap = nullptr;  // no handler: packets are read and dropped quietly
    capture.Push(MakeUdpPacket(1, 2, "nobody"));
    Cap.ReadPacket(0);
    EXPECT_TRUE(capture.Queue.empty());
    EXPECT_TRUE(Errors.empty());
}

TEST_F(CapIp, RefusalLeavesTheStartAndChangesNothing) {
    Source.Refusal = "socket: Operation not permitted (root or CAP_NET_RAW needed)";
    const TStatus refused = Cap.StartCapture();
    ASSERT_FALSE(refused.Ok());
    EXPECT_EQ(refused.Failure().Text(), *Source.Refusal);
    EXPECT_EQ(Cap.State(), TState::Created);
    EXPECT_FALSE(Cap.Initialized());
    EXPECT_EQ(Cap.Captures(), 0u);
    Cap.PauseCapture();
    EXPECT_FALSE(Cap.Paused());

    Source.Refusal.reset();  // a later start tries again
    EXPECT_TRUE(Cap.StartCapture().Ok());
    EXPECT_EQ(Cap.State(), TState::Capturing);
    Cap.StopCapture();

    Source.Refusal = "gone";
    EXPECT_FALSE(Cap.StartCapture().Ok());
    EXPECT_EQ(Cap.State(), TState::Stopped);
}

TEST_F(CapIp, ReportsFailedInterfacesMissingAddressesAndReadErrors) {
    Source.Addresses = {"10.0.0.1"};
    Source.Failing = {"10.0.0.9"};
    EXPECT_TRUE(Cap.StartCapture().Ok());
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "10.0.0.9: Operation not permitted");
    EXPECT_EQ(Cap.Captures(), 1u);

    TFakeCaptureState& capture = Source.Latest();
    capture.FailNextRead("recvfrom: Network is down");
    Cap.ReadPacket(0);
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_EQ(Errors[1], "recvfrom: Network is down");
    EXPECT_TRUE(Seen.empty());
    capture.Push(MakeUdpPacket(1, 2, "after"));  // the capture goes on
    Cap.ReadPacket(0);
    EXPECT_EQ(Seen.size(), 1u);
    Cap.StopCapture();

    Errors.clear();
    Source.Addresses.clear();
    Source.Failing.clear();
    EXPECT_TRUE(Cap.StartCapture().Ok());
    EXPECT_EQ(Errors, std::vector<std::string>{kNoLocalAddressError});
    EXPECT_EQ(Cap.State(), TState::Capturing);
    Cap.PauseCapture();  // nothing open: the pause does not happen
    EXPECT_FALSE(Cap.Paused());

    Cap.OnError = nullptr;  // unassigned: reports are lost without harm
    Cap.StopCapture();
    EXPECT_TRUE(Cap.StartCapture().Ok());
}

TEST_F(CapIp, StopInsideTheHandlerClosesAfterTheReadAndTellsTheOwnerFirst) {
    Source.Addresses = {"10.0.0.1", "10.0.0.2"};
    EXPECT_TRUE(Cap.StartCapture().Ok());
    TFakeCaptureState& first = Source.Latest(0);
    std::vector<bool> openWhenTold;
    Cap.OnClosing = [&] {
        for (const auto& state : Source.Opened) openWhenTold.push_back(state->Open());
    };
    Cap.OnCap = [this](const TCapturedPacket& p) {
        Seen.push_back({std::string(p.Ip), ProtocolText(p), SourceAddressText(p), DestAddressText(p),
                        PortText(p.SourcePort), PortText(p.DestPort), p.HeaderSize, {}, {}, 0});
        Cap.StopCapture();
    };
    for (int n = 0; n < 3; ++n) first.Push(MakeUdpPacket(1, 2, "x"));
    Cap.ReadPacket(0);
    EXPECT_EQ(Seen.size(), 1u);  // nothing after the stop is reported
    EXPECT_EQ(openWhenTold, (std::vector<bool>{true, true}));
    EXPECT_EQ(Cap.State(), TState::Stopped);
    for (const auto& state : Source.Opened) EXPECT_EQ(state->Closes, 1) << state->Address;

    const int reads = first.Reads;
    Cap.ReadPacket(0);  // a late notification for a closed capture
    Cap.ReadPacket(7);
    EXPECT_EQ(first.Reads, reads);
}

TEST_F(CapIp, AThrowingHandlerLeavesReadingStoppingAndStartingWorking) {
    Source.Addresses = {"10.0.0.1", "10.0.0.2"};
    EXPECT_TRUE(Cap.StartCapture().Ok());
    TFakeCaptureState& first = Source.Latest(0);
    const auto record = Cap.OnCap;
    Cap.OnCap = [](const TCapturedPacket&) { throw std::runtime_error("handler failed"); };
    first.Push(MakeUdpPacket(1, 2, "thrown on"));
    first.Push(MakeUdpPacket(1, 2, "next"));
    EXPECT_THROW(Cap.ReadPacket(0), std::runtime_error);

    Cap.OnCap = record;
    Cap.ReadPacket(0);  // the packet after the throw comes with the next read
    ASSERT_EQ(Seen.size(), 1u);
    EXPECT_EQ(Seen[0].Payload, "next");

    Cap.StopCapture();
    EXPECT_EQ(Cap.State(), TState::Stopped);
    for (const auto& state : Source.Opened) EXPECT_EQ(state->Closes, 1) << state->Address;
    EXPECT_TRUE(Cap.StartCapture().Ok());
    EXPECT_EQ(Cap.State(), TState::Capturing);
    EXPECT_EQ(Cap.Captures(), 2u);

    // A handler that stops and then throws: the captures are closed when the exception arrives.
    Cap.OnCap = [this](const TCapturedPacket&) {
        Cap.StopCapture();
        throw std::runtime_error("handler failed after stopping");
    };
    Source.Latest(1).Push(MakeUdpPacket(1, 2, "x"));
    EXPECT_THROW(Cap.ReadPacket(1), std::runtime_error);
    EXPECT_EQ(Cap.Captures(), 0u);
    for (const auto& state : Source.Opened) EXPECT_EQ(state->Closes, 1) << state->Address;
    EXPECT_TRUE(Cap.StartCapture().Ok());
    EXPECT_EQ(Cap.Captures(), 2u);
}

TEST_F(CapIp, AThrowingOnClosingStillClosesEveryCapture) {
    Source.Addresses = {"10.0.0.1", "10.0.0.2"};
    EXPECT_TRUE(Cap.StartCapture().Ok());
    Cap.OnClosing = [] { throw std::runtime_error("owner failed"); };
    EXPECT_THROW(Cap.StopCapture(), std::runtime_error);
    EXPECT_EQ(Cap.State(), TState::Stopped);
    for (const auto& state : Source.Opened) EXPECT_EQ(state->Closes, 1) << state->Address;

    // The same for a stop from inside the handler: the read's end closes them.
    EXPECT_TRUE(Cap.StartCapture().Ok());
    Cap.OnCap = [this](const TCapturedPacket&) { EXPECT_THROW(Cap.StopCapture(), std::runtime_error); };
    Source.Latest(0).Push(MakeUdpPacket(1, 2, "x"));
    Cap.ReadPacket(0);
    for (const auto& state : Source.Opened) EXPECT_EQ(state->Closes, 1) << state->Address;
}

TEST_F(CapIp, TotalsCountClosedAndOpenCaptures) {
    EXPECT_TRUE(Cap.StartCapture().Ok());
    Source.Latest().Stats = {10, 2};
    Cap.StopCapture();
    EXPECT_TRUE(Cap.StartCapture().Ok());
    Source.Latest().Stats = {5, 1};
    const TCaptureStats total = Cap.Stats();
    EXPECT_EQ(total.Received, 15u);
    EXPECT_EQ(total.Dropped, 3u);
}

}  // namespace
}  // namespace tarnwick::testing

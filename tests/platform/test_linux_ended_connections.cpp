// The kernel's socket-destroy notifications, for real on loopback.
#include "platform/linux/linux_ended_connections.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "loopback_helpers.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

#define SKIP_UNLESS_ACTIVE(source)                                                                     \
    if (const TStatus available = (source).Available(); !available) {                                 \
        GTEST_SKIP() << "the kernel reports no socket destruction to us here: " << available.Failure().Text(); \
    }

// Takes until `done` holds for what was taken so far, or two seconds pass.
template <typename F>
TEndedTake TakeUntil(TEndedConnections& source, F done) {
    TEndedTake all;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!done(all) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        TEndedTake take = source.TakeEnded();
        all.Connections.insert(all.Connections.end(), take.Connections.begin(), take.Connections.end());
        all.Dropped += take.Dropped;
        all.Lost = all.Lost || take.Lost;
    }
    return all;
}

size_t CountEnds(const TEndedTake& take, uint16_t localPort, uint16_t remotePort) {
    const TInetAddress loopback = TInetAddress::Ipv4(127, 0, 0, 1);
    size_t count = 0;
    for (const TEndedConnection& c : take.Connections)
        if (c.Row.LocalPort == localPort && c.Row.RemotePort == remotePort && c.Row.LocalAddr == loopback &&
            c.Row.RemoteAddr == loopback)
            ++count;
    return count;
}

TEST(LinuxEndedConnections, AClosedLoopbackConnectionArrivesWithBothEndsAndTheListenerDoesNot) {
    TLinuxEndedConnections source;
    SKIP_UNLESS_ACTIVE(source);
    auto listener = test::TcpListener();
    auto connection = test::Connect(listener.Get());
    const uint16_t client = connection.ClientPort, server = connection.ServerPort;
    connection.Client.Reset();
    connection.Server.Reset();
    listener.Reset();

    const TEndedTake take = TakeUntil(source, [&](const TEndedTake& t) {
        return CountEnds(t, client, server) == 1 && CountEnds(t, server, client) == 1;
    });
    EXPECT_EQ(CountEnds(take, client, server), 1u);
    EXPECT_EQ(CountEnds(take, server, client), 1u);
    // Only its own: other tests' sockets end meanwhile, and a reset end is kept with remote port 0.
    for (const TEndedConnection& c : take.Connections) {
        const uint16_t local = c.Row.LocalPort, remote = c.Row.RemotePort;
        EXPECT_FALSE(local == server && remote == 0) << "the listener was kept";
        if ((local == client && remote == server) || (local == server && remote == client)) {
            EXPECT_TRUE(c.WasEstablished) << "both ends of an established connection completed the handshake";
        }
    }
}

// The end that resets has its ends zeroed and its counts cleared: only its
// cookie names it, and it must still read as a connection.
TEST(LinuxEndedConnections, AResetEndArrivesUnderItsCookieAsAConnection) {
    TLinuxEndedConnections source;
    SKIP_UNLESS_ACTIVE(source);
    auto listener = test::TcpListener();
    auto connection = test::Connect(listener.Get());
    uint64_t cookie = 0;
    socklen_t length = sizeof cookie;
    ASSERT_EQ(getsockopt(connection.Client.Get(), SOL_SOCKET, SO_COOKIE, &cookie, &length), 0);
    test::SetResetOnClose(connection.Client.Get());
    connection.Client.Reset();

    const auto find = [&](const TEndedTake& t) -> const TEndedConnection* {
        for (const TEndedConnection& c : t.Connections)
            if (c.Row.Cookie == cookie) return &c;
        return nullptr;
    };
    const TEndedTake take = TakeUntil(source, [&](const TEndedTake& t) { return find(t) != nullptr; });
    const TEndedConnection* reset = find(take);
    ASSERT_NE(reset, nullptr) << "the reset end was not kept";
    EXPECT_EQ(reset->Row.RemotePort, 0) << "no longer zeroed: the test shows nothing";
    EXPECT_TRUE(reset->WasEstablished);
    EXPECT_FALSE(reset->Row.Traffic.Known) << "its cleared counters would stand for the connection's";
}

TEST(LinuxEndedConnections, PastItsBoundItCountsInsteadOfKeeping) {
    TLinuxEndedConnections source(true, 1);
    SKIP_UNLESS_ACTIVE(source);
    auto listener = test::TcpListener();
    for (int i = 0; i < 3; ++i) test::Connect(listener.Get());  // both ends close at once
    // Six ends, of which one is kept (other traffic on the machine only adds to the count).
    const TEndedTake take = TakeUntil(source, [](const TEndedTake& t) { return t.Dropped >= 5; });
    EXPECT_LE(take.Connections.size(), 2u);  // one per take at most; the loop may take twice
    EXPECT_GE(take.Dropped + take.Connections.size(), 6u);
}

TEST(LinuxEndedConnections, StopsPromptlyWhenNothingHappens) {
    const auto started = std::chrono::steady_clock::now();
    { TLinuxEndedConnections source; }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

}  // namespace
}  // namespace tarnwick

#include "platform/linux/linux_connection_killer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "loopback_helpers.h"
#include "platform/linux/linux_ip_tables.h"
#include "rules/connection_kill.h"

namespace tarnwick {
namespace {

using test::Connect;
using test::FindTcp;
using test::LocalPort;
using test::TcpListener;

// Closing needs CAP_NET_ADMIN and CONFIG_INET_DIAG_DESTROY; without them the
// tests that close real connections have nothing to check.
#define SKIP_UNLESS_KILL_WORKS()                                                        \
    if (const TStatus available = ConnectionKillAvailable(); !available) {                  \
        GTEST_SKIP() << "connections cannot be closed here: " << KillFailureReason(available.Failure()); \
    }

// Both families' rows.
std::vector<TTcpRow> FetchTcp() {
    TLinuxIpTables tables;
    TResult<TTcpTable> table = tables.FetchTcp({});
    EXPECT_TRUE(table.Ok());
    return table.Ok() ? std::move(table).Value().Rows : std::vector<TTcpRow>{};
}

bool HasEstablished(uint16_t localPort, uint16_t remotePort) {
    for (const TTcpRow& row : FindTcp(FetchTcp(), localPort, remotePort)) {
        if (row.State == TTcpState::Established) return true;
    }
    return false;
}

// The row of `fd`'s connection as the tables write it, made from the socket's
// own view of its ends rather than from the tables.
TTcpRow RowOf(int fd) {
    sockaddr_in local{};
    sockaddr_in remote{};
    socklen_t length = sizeof local;
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length), 0);
    length = sizeof remote;
    EXPECT_EQ(getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &length), 0);
    const auto addressOf = [](const sockaddr_in& address) {
        const uint32_t host = ntohl(address.sin_addr.s_addr);
        return TInetAddress::Ipv4(static_cast<uint8_t>(host >> 24), static_cast<uint8_t>(host >> 16),
                                  static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host));
    };
    TTcpRow row;
    row.State = TTcpState::Established;
    row.LocalAddr = addressOf(local);
    row.LocalPort = ntohs(local.sin_port);
    row.RemoteAddr = addressOf(remote);
    row.RemotePort = ntohs(remote.sin_port);
    return row;
}

// What a blocking reader of `fd` gets now: the errno of a failed recv, or 0
// for end-of-file, or -1 for data or nothing within two seconds.
int ReadOutcome(int fd) {
    pollfd watched{fd, POLLIN, 0};
    if (poll(&watched, 1, 2000) != 1) return -1;
    char byte;
    const ssize_t received = recv(fd, &byte, 1, MSG_DONTWAIT);
    if (received == 0) return 0;
    if (received > 0) return -1;
    return errno;
}

// Takes CAP_NET_ADMIN out of this thread's effective set while it lives.
// Capabilities belong to the thread (capset(2) changes only the caller's),
// so the rest of the test binary keeps it.
class TWithoutNetAdmin {
public:
    TWithoutNetAdmin() {
        Header_.version = _LINUX_CAPABILITY_VERSION_3;
        EXPECT_EQ(syscall(SYS_capget, &Header_, Saved_), 0);
        __user_cap_data_struct reduced[_LINUX_CAPABILITY_U32S_3];
        std::memcpy(reduced, Saved_, sizeof reduced);
        reduced[CAP_TO_INDEX(CAP_NET_ADMIN)].effective &= ~CAP_TO_MASK(CAP_NET_ADMIN);
        EXPECT_EQ(syscall(SYS_capset, &Header_, reduced), 0);
    }
    TWithoutNetAdmin(const TWithoutNetAdmin&) = delete;
    TWithoutNetAdmin& operator=(const TWithoutNetAdmin&) = delete;
    ~TWithoutNetAdmin() { syscall(SYS_capset, &Header_, Saved_); }

private:
    __user_cap_header_struct Header_{};
    __user_cap_data_struct Saved_[_LINUX_CAPABILITY_U32S_3] = {};
};

TEST(LinuxConnectionKiller, ClosesAConnectionNamedByItsOwnEnds) {
    SKIP_UNLESS_KILL_WORKS();
    const TUniqueFd listener = TcpListener();
    const test::TTcpConnection connection = Connect(listener.Get());
    ASSERT_TRUE(HasEstablished(connection.ClientPort, connection.ServerPort));

    TLinuxConnectionKiller killer;
    EXPECT_TRUE(killer.KillTcp(RowOf(connection.Client.Get())));

    // The closed socket's owner gets the error SOCK_DESTROY aborts it with;
    // the peer gets the reset that the abort sends.
    EXPECT_EQ(ReadOutcome(connection.Client.Get()), ECONNABORTED);
    EXPECT_EQ(ReadOutcome(connection.Server.Get()), ECONNRESET);
    EXPECT_FALSE(HasEstablished(connection.ClientPort, connection.ServerPort));
    EXPECT_FALSE(HasEstablished(connection.ServerPort, connection.ClientPort));
}

TEST(LinuxConnectionKiller, ClosesTheConnectionOfATableRowAndOnlyThatOne) {
    SKIP_UNLESS_KILL_WORKS();
    const TUniqueFd listener = TcpListener();
    const test::TTcpConnection target = Connect(listener.Get());
    const test::TTcpConnection bystander = Connect(listener.Get());

    // The server end's row, as the monitor would pass it.
    const std::vector<TTcpRow> rows = FindTcp(FetchTcp(), target.ServerPort, target.ClientPort);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].State, TTcpState::Established);
    TLinuxConnectionKiller killer;
    EXPECT_TRUE(killer.KillTcp(rows[0]));

    EXPECT_EQ(ReadOutcome(target.Server.Get()), ECONNABORTED);
    EXPECT_EQ(ReadOutcome(target.Client.Get()), ECONNRESET);
    EXPECT_FALSE(HasEstablished(target.ServerPort, target.ClientPort));

    // The other connection through the same listener, and the listener, live on.
    EXPECT_TRUE(HasEstablished(bystander.ClientPort, bystander.ServerPort));
    EXPECT_TRUE(HasEstablished(bystander.ServerPort, bystander.ClientPort));
    ASSERT_EQ(send(bystander.Client.Get(), "x", 1, 0), 1);
    char byte = 0;
    EXPECT_EQ(recv(bystander.Server.Get(), &byte, 1, 0), 1);
    const test::TTcpConnection later = Connect(listener.Get());
    EXPECT_TRUE(HasEstablished(later.ClientPort, later.ServerPort));
}

TEST(LinuxConnectionKiller, AConnectionThatIsGoneGivesAReasonAndSparesTheListenerOnItsPort) {
    SKIP_UNLESS_KILL_WORKS();
    const TUniqueFd listener = TcpListener();
    const uint16_t listenerPort = LocalPort(listener.Get());
    test::TTcpConnection connection = Connect(listener.Get());
    const TTcpRow row = RowOf(connection.Server.Get());  // local end = the listener's port
    test::SetResetOnClose(connection.Client.Get());
    connection.Client.Reset();
    connection.Server.Reset();
    ASSERT_FALSE(HasEstablished(connection.ServerPort, connection.ClientPort));

    // A lookup by these ends would find the listener; closing that instead
    // would take the server down.
    TLinuxConnectionKiller killer;
    const TStatus killed = killer.KillTcp(row);
    ASSERT_FALSE(killed);
    EXPECT_EQ(KillFailureReason(killed.Failure()),
              std::string(std::strerror(ENOENT)) + " (the connection no longer exists)");

    bool listening = false;
    for (const TTcpRow& found : FindTcp(FetchTcp(), listenerPort)) listening |= found.State == TTcpState::Listening;
    EXPECT_TRUE(listening);
    const test::TTcpConnection later = Connect(listener.Get());
    EXPECT_TRUE(HasEstablished(later.ClientPort, later.ServerPort));

    // A row of ends nobody ever used.
    TTcpRow nowhere;
    nowhere.LocalAddr = TInetAddress::Ipv4(127, 0, 0, 1);
    nowhere.LocalPort = 1;
    nowhere.RemoteAddr = TInetAddress::Ipv4(127, 0, 0, 1);
    nowhere.RemotePort = 1;
    EXPECT_FALSE(killer.KillTcp(nowhere));
}

TEST(LinuxConnectionKiller, WithoutTheCapabilityTheReasonNamesItAndTheConnectionStays) {
    const TUniqueFd listener = TcpListener();
    const test::TTcpConnection connection = Connect(listener.Get());
    const std::string expected =
        std::string(std::strerror(EPERM)) + " (closing connections needs the CAP_NET_ADMIN capability)";
    {
        const TWithoutNetAdmin dropped;
        const TStatus available = ConnectionKillAvailable();
        ASSERT_FALSE(available);
        EXPECT_EQ(KillFailureReason(available.Failure()), expected);
        TLinuxConnectionKiller killer;
        const TStatus killed = killer.KillTcp(RowOf(connection.Client.Get()));
        ASSERT_FALSE(killed);
        const std::string reason = KillFailureReason(killed.Failure());
        if (reason != expected) {
            // A kernel without socket closing says so before any privilege check.
            EXPECT_NE(reason.find("CONFIG_INET_DIAG_DESTROY"), std::string::npos) << reason;
        }
    }
    EXPECT_TRUE(HasEstablished(connection.ClientPort, connection.ServerPort));
    ASSERT_EQ(send(connection.Client.Get(), "x", 1, 0), 1);
    char byte = 0;
    EXPECT_EQ(recv(connection.Server.Get(), &byte, 1, 0), 1);
}

TEST(LinuxConnectionKiller, ClosesAnIpv6ConnectionOnlyWithItsEndsAndInterface) {
    SKIP_UNLESS_KILL_WORKS();
    const TUniqueFd listener = test::TcpListener6();
    const test::TTcpConnection connection = Connect(listener.Get(), "::1");
    const std::vector<TTcpRow> rows = test::FindTcp6(FetchTcp(), connection.ServerPort, connection.ClientPort);
    ASSERT_EQ(rows.size(), 1u);
    TLinuxConnectionKiller killer;

    // The lookup finds the unbound socket through any interface; bound to
    // none, it is not the connection of a row bound to the loopback.
    TTcpRow elsewhere = rows[0];
    elsewhere.Interface = 1;
    EXPECT_FALSE(killer.KillTcp(elsewhere));

    EXPECT_TRUE(killer.KillTcp(rows[0]));
    EXPECT_EQ(ReadOutcome(connection.Server.Get()), ECONNABORTED);
    EXPECT_EQ(ReadOutcome(connection.Client.Get()), ECONNRESET);
    EXPECT_TRUE(test::FindTcp6(FetchTcp(), connection.ServerPort, connection.ClientPort).empty());

    // Gone now: the listener the lookup falls back to is spared.
    EXPECT_FALSE(killer.KillTcp(rows[0]));
    const test::TTcpConnection later = Connect(listener.Get(), "::1");
    EXPECT_EQ(test::FindTcp6(FetchTcp(), later.ClientPort, later.ServerPort).size(), 1u);
}

TEST(LinuxConnectionKiller, ClosesADualStackServersIpv4ConnectionByItsIpv4Row) {
    SKIP_UNLESS_KILL_WORKS();
    const TUniqueFd listener = test::TcpListener6("::", false);
    const test::TTcpConnection connection = Connect(listener.Get(), "127.0.0.1");
    // The server's end, an AF_INET6 socket with IPv4-mapped ends.
    const std::vector<TTcpRow> rows = FindTcp(FetchTcp(), connection.ServerPort, connection.ClientPort);
    ASSERT_EQ(rows.size(), 1u);

    TLinuxConnectionKiller killer;
    EXPECT_TRUE(killer.KillTcp(rows[0]));
    EXPECT_EQ(ReadOutcome(connection.Server.Get()), ECONNABORTED);
    EXPECT_EQ(ReadOutcome(connection.Client.Get()), ECONNRESET);
    EXPECT_FALSE(HasEstablished(connection.ServerPort, connection.ClientPort));
}

TEST(LinuxConnectionKiller, ClosesAConnectionBoundToAnInterfaceByItsIpv4Row) {
    SKIP_UNLESS_KILL_WORKS();
    const TUniqueFd listener = TcpListener();
    TUniqueFd client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(client.IsValid());
    // Bound to the loopback interface, as a VRF or SO_BINDTODEVICE binds it.
    ASSERT_EQ(setsockopt(client.Get(), SOL_SOCKET, SO_BINDTODEVICE, "lo", 3), 0) << std::strerror(errno);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(0x7F000001);
    server.sin_port = htons(LocalPort(listener.Get()));
    ASSERT_EQ(connect(client.Get(), reinterpret_cast<const sockaddr*>(&server), sizeof server), 0);
    const TUniqueFd accepted(accept(listener.Get(), nullptr, nullptr));

    TLinuxConnectionKiller killer;
    EXPECT_TRUE(killer.KillTcp(RowOf(client.Get())));
    EXPECT_EQ(ReadOutcome(client.Get()), ECONNABORTED);
}

// tarnwick-helper's killer closes only what the kernel holds as established,
// whatever state the row claims: a half-closed connection stays.
TEST(LinuxConnectionKiller, EstablishedOnlyLeavesAClosingConnectionAlone) {
    SKIP_UNLESS_KILL_WORKS();
    const TUniqueFd listener = TcpListener();
    const test::TTcpConnection connection = Connect(listener.Get());
    ASSERT_EQ(shutdown(connection.Client.Get(), SHUT_WR), 0);  // the server end goes to Close_Wait
    ASSERT_EQ(ReadOutcome(connection.Server.Get()), 0);
    TLinuxConnectionKiller helperKiller(true);
    const TStatus killed = helperKiller.KillTcp(RowOf(connection.Server.Get()));
    ASSERT_FALSE(killed);
    EXPECT_NE(KillFailureReason(killed.Failure()).find("not established"), std::string::npos);
    ASSERT_EQ(send(connection.Server.Get(), "x", 1, 0), 1);  // still open for writing
    char byte = 0;
    EXPECT_EQ(recv(connection.Client.Get(), &byte, 1, 0), 1);
}

}  // namespace
}  // namespace tarnwick

#include "platform/linux/linux_ip_tables.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

#include "loopback_helpers.h"

namespace tarnwick {
namespace {

using test::Connect;
using test::FindTcp;
using test::FindTcp6;
using test::FindUdp;
using test::FindUdp6;
using test::LocalPort;
using test::TcpListener;
using test::UdpSocket;

const uint32_t kOurPid = static_cast<uint32_t>(getpid());

TTcpTable FetchTcpTable(TLinuxIpTables& tables, const TTableRequest& request = {}) {
    TResult<TTcpTable> table = tables.FetchTcp(request);
    EXPECT_TRUE(table.Ok()) << table.Failure().Text();
    return table.Ok() ? std::move(table).Value() : TTcpTable{};
}

// Both families' rows.
std::vector<TTcpRow> FetchTcp(TLinuxIpTables& tables) { return FetchTcpTable(tables).Rows; }

std::vector<TUdpRow> FetchUdp(TLinuxIpTables& tables) {
    TResult<TUdpTable> table = tables.FetchUdp({});
    EXPECT_TRUE(table.Ok()) << table.Failure().Text();
    return table.Ok() ? std::move(table).Value().Rows : std::vector<TUdpRow>{};
}

// Whether `rows` are in table order: local end, then remote end.
bool SortedByEnds(const std::vector<TTcpRow>& rows) {
    return std::is_sorted(rows.begin(), rows.end(), [](const TTcpRow& a, const TTcpRow& b) {
        return std::tie(a.LocalAddr, a.LocalPort, a.RemoteAddr, a.RemotePort) <
               std::tie(b.LocalAddr, b.LocalPort, b.RemoteAddr, b.RemotePort);
    });
}

bool HasPort(const TTcpRow& row, uint16_t port) { return row.LocalPort == port || row.RemotePort == port; }

TEST(LinuxIpTables, TcpShowsListenerAndBothEndsOfAConnectionWithOurPid) {
    const TUniqueFd listener = TcpListener();
    const uint16_t port = LocalPort(listener.Get());
    const test::TTcpConnection connection = Connect(listener.Get());
    TLinuxIpTables tables;

    const std::vector<TTcpRow> rows = FetchTcp(tables);

    bool foundListener = false;
    for (const TTcpRow& row : FindTcp(rows, port)) {
        if (row.State != TTcpState::Listening) continue;
        foundListener = true;
        EXPECT_EQ(row.RemoteAddr, TInetAddress());
        EXPECT_EQ(row.RemotePort, 0u);
        EXPECT_EQ(row.OwningPid, kOurPid);
    }
    EXPECT_TRUE(foundListener);

    const auto client = FindTcp(rows, connection.ClientPort, connection.ServerPort);
    const auto server = FindTcp(rows, connection.ServerPort, connection.ClientPort);
    ASSERT_EQ(client.size(), 1u);
    ASSERT_EQ(server.size(), 1u);
    EXPECT_EQ(client[0].State, TTcpState::Established);
    EXPECT_EQ(server[0].State, TTcpState::Established);
    EXPECT_EQ(client[0].OwningPid, kOurPid);
    EXPECT_EQ(server[0].OwningPid, kOurPid);
    EXPECT_EQ(server[0].LocalPort, port);
}

TEST(LinuxIpTables, RowsAreSortedByHostOrderEnds) {
    // 127.0.1.1 < 127.1.0.1 as numbers, though as little-endian fields the
    // second is the smaller: a sort on raw field values would get this wrong.
    const TUniqueFd high = TcpListener(0x7F010001);
    const TUniqueFd low = TcpListener(0x7F000101);
    const TUniqueFd listener = TcpListener();
    const test::TTcpConnection a = Connect(listener.Get());
    const test::TTcpConnection b = Connect(listener.Get());
    TLinuxIpTables tables;

    const TTcpTable table = FetchTcpTable(tables);
    const std::vector<TTcpRow> rows(table.Rows.begin(), table.Rows.end() - static_cast<std::ptrdiff_t>(table.Ipv6Rows));
    ASSERT_GE(rows.size(), 7u);
    EXPECT_TRUE(SortedByEnds(rows));
}

TEST(LinuxIpTables, ClosedConnectionIsNoLongerEstablishedAndResetOneIsGone) {
    const TUniqueFd listener = TcpListener();
    TLinuxIpTables tables;

    test::TTcpConnection graceful = Connect(listener.Get());
    const uint16_t gracefulClient = graceful.ClientPort;
    const uint16_t gracefulServer = graceful.ServerPort;
    graceful.Client.Reset();
    graceful.Server.Reset();

    test::TTcpConnection reset = Connect(listener.Get());
    const uint16_t resetClient = reset.ClientPort;
    const uint16_t resetServer = reset.ServerPort;
    test::SetResetOnClose(reset.Client.Get());
    reset.Client.Reset();
    reset.Server.Reset();

    const std::vector<TTcpRow> rows = FetchTcp(tables);
    for (const TTcpRow& row : FindTcp(rows, gracefulClient, gracefulServer)) {
        EXPECT_NE(row.State, TTcpState::Established);
        EXPECT_EQ(row.OwningPid, 0u) << "no process holds a closed socket";
    }
    for (const TTcpRow& row : FindTcp(rows, gracefulServer, gracefulClient))
        EXPECT_NE(row.State, TTcpState::Established);
    EXPECT_TRUE(FindTcp(rows, resetClient, resetServer).empty());
    EXPECT_TRUE(FindTcp(rows, resetServer, resetClient).empty());
}

TEST(LinuxIpTables, UdpSocketAppearsWithOurPid) {
    const TUniqueFd udp = UdpSocket();
    TLinuxIpTables tables;
    const auto rows = FindUdp(FetchUdp(tables), LocalPort(udp.Get()));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].OwningPid, kOurPid);
}

TEST(LinuxIpTables, UdpSocketOpenedJustAfterATcpFetchStillGetsItsPid) {
    TLinuxIpTables tables;
    FetchUdp(tables);
    FetchTcp(tables);
    // Opened after the TCP fetch's /proc scan, which the UDP fetch may reuse.
    const TUniqueFd udp = UdpSocket();
    const auto rows = FindUdp(FetchUdp(tables), LocalPort(udp.Get()));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].OwningPid, kOurPid);
}

TEST(LinuxIpTables, DumpsSpanningManyReplyDatagramsAreComplete) {
    // Far more than one 32 KiB reply datagram holds.
    constexpr int kSockets = 1500;
    if (!test::RoomForDescriptors(kSockets)) GTEST_SKIP() << "no room for " << kSockets << " descriptors";
    std::vector<TUniqueFd> sockets;
    std::vector<uint16_t> ports;
    for (int i = 0; i < kSockets; ++i) {
        sockets.push_back(UdpSocket());
        ports.push_back(LocalPort(sockets.back().Get()));
    }
    TLinuxIpTables tables;
    const std::vector<TUdpRow> rows = FetchUdp(tables);
    size_t found = 0;
    for (const uint16_t port : ports) {
        const auto matches = FindUdp(rows, port);
        found += matches.size() == 1 && matches[0].OwningPid == kOurPid;
    }
    EXPECT_EQ(found, ports.size());
}

TEST(LinuxIpTables, SocketOfAChildHasTheChildsPidAndGoesWithIt) {
    uint16_t port = 0;
    test::TChild child = test::ForkListenerChild(port);
    const uint32_t childPid = static_cast<uint32_t>(child.Pid());
    TLinuxIpTables tables;

    auto rows = FindTcp(FetchTcp(tables), port);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].State, TTcpState::Listening);
    EXPECT_EQ(rows[0].OwningPid, childPid);

    child.KillAndReap();
    EXPECT_TRUE(FindTcp(FetchTcp(tables), port).empty());
}

TEST(LinuxIpTables, SocketSharedWithAChildIsAttributedToTheLowerPid) {
    const TUniqueFd udp = UdpSocket();
    const test::TChild child = test::ForkPausedChild();  // holds a copy of `udp`
    const uint32_t lower = std::min(kOurPid, static_cast<uint32_t>(child.Pid()));
    TLinuxIpTables tables;
    for (int i = 0; i < 3; ++i) {
        const auto rows = FindUdp(FetchUdp(tables), LocalPort(udp.Get()));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].OwningPid, lower);
    }
}

TEST(LinuxIpTables, ZombieAndExitedProcessesDoNotBreakAFetch) {
    test::TChild zombie = test::ForkExitingChild();
    usleep(20000);  // let it exit; it stays a zombie until reaped
    TLinuxIpTables tables;
    EXPECT_TRUE(tables.FetchTcp({}).Ok());
    EXPECT_TRUE(tables.FetchUdp({}).Ok());
    zombie.KillAndReap();
    EXPECT_TRUE(tables.FetchTcp({}).Ok());
}

TEST(LinuxIpTables, DualStackListenerIsAnIpv6RowAndItsIpv4ConnectionIsAnIpv4Row) {
    const TUniqueFd listener = test::TcpListener6("::", false);
    const uint16_t port = LocalPort(listener.Get());
    const test::TTcpConnection connection = Connect(listener.Get(), "127.0.0.1");
    TLinuxIpTables tables;

    // The accepted end is an AF_INET6 socket with IPv4-mapped ends.
    const std::vector<TTcpRow> rows = FetchTcp(tables);
    const auto server = FindTcp(rows, connection.ServerPort, connection.ClientPort);
    ASSERT_EQ(server.size(), 1u);
    EXPECT_EQ(server[0].State, TTcpState::Established);
    EXPECT_EQ(server[0].OwningPid, kOurPid);
    EXPECT_EQ(FindTcp(rows, connection.ClientPort, connection.ServerPort).size(), 1u);

    size_t ofThePort = 0;
    for (const TTcpRow& row : rows) {
        if (!row.V6() || !HasPort(row, port)) continue;
        ++ofThePort;
        EXPECT_EQ(row.State, TTcpState::Listening);
        EXPECT_EQ(row.LocalAddr, TInetAddress::Ipv6({}));
        EXPECT_EQ(row.OwningPid, kOurPid);
    }
    EXPECT_EQ(ofThePort, 1u) << "the listener alone; its connection is an IPv4 row";
}

TEST(LinuxIpTables, Ipv6SocketsBoundToAMappedAddressWithoutAPeerAreIpv4Rows) {
    // The kernel holds these as IPv6 sockets (ss: [::ffff:127.0.0.1]:port,
    // peer *:*), yet only IPv4 traffic can reach them.
    const TUniqueFd listener = test::TcpListener6("::ffff:127.0.0.1", false);
    const TUniqueFd udp = test::UdpSocket6("::ffff:127.0.0.1");
    const uint16_t tcpPort = LocalPort(listener.Get());
    const uint16_t udpPort = LocalPort(udp.Get());
    TLinuxIpTables tables;

    const std::vector<TTcpRow> tcpRows = FetchTcp(tables);
    const auto tcp = FindTcp(tcpRows, tcpPort);
    ASSERT_EQ(tcp.size(), 1u);
    EXPECT_EQ(tcp[0].State, TTcpState::Listening);
    EXPECT_EQ(tcp[0].OwningPid, kOurPid);
    const std::vector<TUdpRow> udpAll = FetchUdp(tables);
    const auto udpRows = FindUdp(udpAll, udpPort);
    ASSERT_EQ(udpRows.size(), 1u);
    EXPECT_EQ(udpRows[0].OwningPid, kOurPid);

    EXPECT_TRUE(FindTcp6(tcpRows, tcpPort).empty());
    EXPECT_TRUE(FindUdp6(udpAll, udpPort).empty());
}

TEST(LinuxIpTables, Ipv6SocketsAreTheLastRowsWithTheirPortsAndPid) {
    const TUniqueFd listener = test::TcpListener6();
    const test::TTcpConnection connection = Connect(listener.Get(), "::1");
    const TUniqueFd udp = test::UdpSocket6();
    const uint16_t udpPort = LocalPort(udp.Get());

    TLinuxIpTables tables;
    const TTcpTable table = FetchTcpTable(tables);
    // The IPv6 rows are the last ones, sorted among themselves.
    const auto firstV6 = table.Rows.end() - static_cast<std::ptrdiff_t>(table.Ipv6Rows);
    EXPECT_TRUE(std::all_of(firstV6, table.Rows.end(), [](const TTcpRow& row) { return row.V6(); }));
    EXPECT_TRUE(std::none_of(table.Rows.begin(), firstV6, [](const TTcpRow& row) { return row.V6(); }));
    EXPECT_TRUE(SortedByEnds(std::vector<TTcpRow>(firstV6, table.Rows.end())));
    const auto client = FindTcp6(table.Rows, connection.ClientPort, connection.ServerPort);
    const auto server = FindTcp6(table.Rows, connection.ServerPort, connection.ClientPort);
    ASSERT_EQ(client.size(), 1u);
    ASSERT_EQ(server.size(), 1u);
    for (const TTcpRow& row : {client[0], server[0]}) {
        EXPECT_EQ(row.State, TTcpState::Established);
        EXPECT_EQ(row.OwningPid, kOurPid);
        EXPECT_EQ(row.Interface, 0u);
    }
    const auto ofListener = FindTcp6(table.Rows, LocalPort(listener.Get()));
    EXPECT_EQ(std::count_if(ofListener.begin(), ofListener.end(),
                            [](const TTcpRow& row) { return row.State == TTcpState::Listening; }),
              1);

    const auto udpRows = FindUdp6(FetchUdp(tables), udpPort);
    ASSERT_EQ(udpRows.size(), 1u);
    EXPECT_EQ(udpRows[0].OwningPid, kOurPid);

    // Without IPv6 none of them is read.
    const TTcpTable withoutIpv6 = FetchTcpTable(tables, TTableRequest{false});
    EXPECT_EQ(withoutIpv6.Ipv6Rows, 0u);
    EXPECT_TRUE(FindTcp6(withoutIpv6.Rows, connection.ServerPort).empty());
}

// The per-state counts of `ss -tanH` (both families) over the sockets with
// one of `ports` at either end.
std::map<TTcpState, int> StateCountsBySs(const std::vector<uint16_t>& ports) {
    static const std::map<std::string, TTcpState> kStates = {
        {"UNCONN", TTcpState::Closed},         {"LISTEN", TTcpState::Listening},
        {"SYN-SENT", TTcpState::SynSent},      {"SYN-RECV", TTcpState::SynRcvd},
        {"ESTAB", TTcpState::Established},     {"FIN-WAIT-1", TTcpState::FinWait1},
        {"FIN-WAIT-2", TTcpState::FinWait2},   {"CLOSE-WAIT", TTcpState::CloseWait},
        {"CLOSING", TTcpState::Closing},       {"LAST-ACK", TTcpState::LastAck},
        {"TIME-WAIT", TTcpState::TimeWait}};
    std::string filter;
    for (const uint16_t port : ports) {
        const std::string p = std::to_string(port);
        filter += (filter.empty() ? "" : " or ") + ("sport = :" + p + " or dport = :" + p);
    }
    std::map<TTcpState, int> counts;
    FILE* pipe = popen(("ss -tanH '( " + filter + " )'").c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "ss did not run";
        return counts;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string state;
        std::istringstream(line) >> state;
        const auto known = kStates.find(state);
        if (known == kStates.end()) {
            ADD_FAILURE() << "ss state " << state;
            continue;
        }
        ++counts[known->second];
    }
    EXPECT_EQ(pclose(pipe), 0);
    return counts;
}

TEST(LinuxIpTables, StateCountsOfBothFamiliesAgreeWithSs) {
    if (std::system("command -v ss >/dev/null 2>&1") != 0) GTEST_SKIP() << "ss (iproute2) is not installed";
    const TUniqueFd listener4 = TcpListener();
    const TUniqueFd listener6 = test::TcpListener6();
    const TUniqueFd dualStack = test::TcpListener6("::", false);
    const test::TTcpConnection a = Connect(listener4.Get());
    test::TTcpConnection halfClosed = Connect(listener4.Get());  // Fin_Wait2 and Close_Wait
    halfClosed.Client.Reset();
    const test::TTcpConnection b = Connect(listener6.Get(), "::1");
    test::TTcpConnection closed = Connect(listener6.Get(), "::1");  // Time_Wait
    closed.Client.Reset();
    closed.Server.Reset();
    const test::TTcpConnection mapped = Connect(dualStack.Get(), "127.0.0.1");
    const test::TTcpConnection overIpv6 = Connect(dualStack.Get(), "::1");
    const std::vector<uint16_t> ports = {LocalPort(listener4.Get()), LocalPort(listener6.Get()),
                                         LocalPort(dualStack.Get())};

    // Compared only while ss sees the same before and after the tables, so a
    // closing handshake still on its way cannot make them differ.
    TLinuxIpTables tables;
    std::map<TTcpState, int> ours;
    std::map<TTcpState, int> before;
    for (int attempt = 0; attempt < 5; ++attempt) {
        before = StateCountsBySs(ports);
        ours.clear();
        for (const TTcpRow& row : FetchTcp(tables)) {
            if (std::any_of(ports.begin(), ports.end(), [&](uint16_t port) { return HasPort(row, port); }))
                ++ours[row.State];
        }
        if (StateCountsBySs(ports) == before) break;
        usleep(100000);
    }
    EXPECT_EQ(ours, before);
    EXPECT_EQ(before[TTcpState::Listening], 3);
    EXPECT_EQ(before[TTcpState::Established], 8);
    EXPECT_EQ(before[TTcpState::TimeWait], 1);
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

// Writes `bytes` bytes on `from` and reads them all on `to`.
void Transfer(int from, int to, size_t bytes) {
    const std::string data(bytes, 'x');
    ASSERT_EQ(::write(from, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    std::string got(bytes, '\0');
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::read(to, got.data() + done, bytes - done);
        ASSERT_GT(n, 0);
        done += static_cast<size_t>(n);
    }
}

// The TCP row `localPort` -> `remotePort` of one family, after a fetch with
// `request`.
std::optional<TTcpRow> RowOf(TLinuxIpTables& tables, bool v6, uint16_t localPort, uint16_t remotePort,
                             const TTableRequest& request = {}) {
    for (const TTcpRow& row : FetchTcpTable(tables, request).Rows)
        if (row.V6() == v6 && row.LocalPort == localPort && row.RemotePort == remotePort) return row;
    return std::nullopt;
}

TEST(LinuxIpTables, EachTcpRowCarriesTheCookieAndInodeOfItsSocket) {
    TLinuxIpTables tables;
    for (const bool v6 : {false, true}) {
        SCOPED_TRACE(v6 ? "IPv6" : "IPv4");
        const TUniqueFd listener = v6 ? test::TcpListener6() : TcpListener();
        const test::TTcpConnection c = Connect(listener.Get(), v6 ? "::1" : "127.0.0.1");
        uint64_t cookie = 0;
        socklen_t length = sizeof cookie;
        ASSERT_EQ(getsockopt(c.Client.Get(), SOL_SOCKET, SO_COOKIE, &cookie, &length), 0);
        struct stat status {};
        ASSERT_EQ(fstat(c.Client.Get(), &status), 0);
        const std::optional<TTcpRow> row = RowOf(tables, v6, c.ClientPort, c.ServerPort);
        ASSERT_TRUE(row);
        EXPECT_EQ(row->Cookie, cookie);
        EXPECT_EQ(row->Inode, status.st_ino);
    }
}

// Whether socket `fd` is in kernel TCP state `state` with nothing it sent
// still unacknowledged.
bool SettledIn(int fd, uint8_t state) {
    tcp_info info{};
    socklen_t length = sizeof info;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 && info.tcpi_state == state &&
           info.tcpi_unacked == 0;
}

// The data written and read, not the sequence numbers: the client's SYN and
// FIN (both acknowledged: Fin_Wait2) and the FIN the server received
// (Close_Wait) count for nothing.
TEST(LinuxIpTablesTraffic, CountsTheDataBytesSentAndReceivedOnEachEndOfALoopbackConnection) {
    TLinuxIpTables tables;
    for (const bool v6 : {false, true}) {
        SCOPED_TRACE(v6 ? "IPv6" : "IPv4");
        const TUniqueFd listener = v6 ? test::TcpListener6() : TcpListener();
        const test::TTcpConnection c = Connect(listener.Get(), v6 ? "::1" : "127.0.0.1");
        Transfer(c.Client.Get(), c.Server.Get(), 1000);
        Transfer(c.Server.Get(), c.Client.Get(), 2500);
        ASSERT_EQ(::shutdown(c.Client.Get(), SHUT_WR), 0);
        bool settled = false;
        for (int attempt = 0; attempt < 200 && !settled; ++attempt) {
            settled = SettledIn(c.Client.Get(), TCP_FIN_WAIT2) && SettledIn(c.Server.Get(), TCP_CLOSE_WAIT);
            if (!settled) ::usleep(10000);
        }
        ASSERT_TRUE(settled);
        const std::optional<TSocketTraffic> client = RowOf(tables, v6, c.ClientPort, c.ServerPort)->Traffic;
        const std::optional<TSocketTraffic> server = RowOf(tables, v6, c.ServerPort, c.ClientPort)->Traffic;
        ASSERT_TRUE(client && server);
        EXPECT_TRUE(client->Known && server->Known);
        EXPECT_EQ(std::make_pair(client->BytesSent, client->BytesReceived), std::make_pair(1000ul, 2500ul));
        EXPECT_EQ(std::make_pair(server->BytesSent, server->BytesReceived), std::make_pair(2500ul, 1000ul));
        // Each end is its own socket, told apart by its cookie.
        EXPECT_NE(client->Socket, 0u);
        EXPECT_NE(client->Socket, server->Socket);
    }
}

TEST(LinuxIpTablesTraffic, ReadsNoCountersWhenNotAskedAndNoneForAListener) {
    TLinuxIpTables tables;
    const TUniqueFd listener = TcpListener();
    const test::TTcpConnection c = Connect(listener.Get());
    const auto listening = RowOf(tables, false, test::LocalPort(listener.Get()), 0);
    ASSERT_TRUE(listening);
    EXPECT_FALSE(listening->Traffic.Known);  // a listener moves no data of its own

    TTableRequest withoutCounters;
    withoutCounters.Traffic = false;
    EXPECT_FALSE(FetchTcpTable(tables, withoutCounters).TrafficRead);
    const auto connected = RowOf(tables, false, c.ClientPort, c.ServerPort, withoutCounters);
    ASSERT_TRUE(connected);
    EXPECT_FALSE(connected->Traffic.Known);
}

}  // namespace
}  // namespace tarnwick

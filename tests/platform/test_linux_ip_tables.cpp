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
using test::TcpRows;
using test::UdpRows;
using test::UdpSocket;

constexpr uint32_t kListening = 2;
constexpr uint32_t kEstablished = 5;

const uint32_t kOurPid = static_cast<uint32_t>(getpid());

std::vector<TTcpRow> FetchTcpEx(TLinuxIpTables& tables) {
    std::vector<uint8_t> table;
    EXPECT_EQ(tables.GetTcpExTable(table), kTableOk);
    return TcpRows(table, true);
}

std::vector<TUdpRow> FetchUdpEx(TLinuxIpTables& tables) {
    std::vector<uint8_t> table;
    EXPECT_EQ(tables.GetUdpExTable(table), kTableOk);
    return UdpRows(table, true);
}

std::vector<TTcpRow> FetchTcp6Ex(TLinuxIpTables& tables) {
    std::vector<uint8_t> table;
    EXPECT_EQ(tables.GetTcp6ExTable(table), kTableOk);
    return test::TcpRows6(table);
}

std::vector<TUdpRow> FetchUdp6Ex(TLinuxIpTables& tables) {
    std::vector<uint8_t> table;
    EXPECT_EQ(tables.GetUdp6ExTable(table), kTableOk);
    return test::UdpRows6(table);
}

// The plain size protocol, checked along the way: ask, then fill.
std::vector<uint8_t> FetchPlain(TLinuxIpTables& tables, bool tcp, bool sorted) {
    uint32_t size = 0;
    const auto call = [&](uint8_t* buffer) {
        return tcp ? tables.GetTcpTable(buffer, size, sorted) : tables.GetUdpTable(buffer, size, sorted);
    };
    EXPECT_EQ(call(nullptr), kInsufficientBuffer);
    const size_t rowSize = tcp ? kTcpRowSize : kUdpRowSize;
    EXPECT_EQ((size - kTableCountSize) % rowSize, 0u);
    std::vector<uint8_t> table(size);
    EXPECT_EQ(call(table.data()), kTableOk);
    EXPECT_EQ(TableRowCount(table, rowSize), (size - kTableCountSize) / rowSize);
    return table;
}

// Host-order sort key of a row's ends, the order the tables promise.
std::tuple<uint32_t, uint16_t, uint32_t, uint16_t> SortKey(const TTcpRow& row) {
    const auto host = [](uint32_t field) {
        return (field & 0xFFu) << 24 | (field & 0xFF00u) << 8 | (field >> 8 & 0xFF00u) | field >> 24;
    };
    return {host(row.LocalAddr), PortFromField(row.LocalPort), host(row.RemoteAddr), PortFromField(row.RemotePort)};
}

bool SortedByEnds(const std::vector<TTcpRow>& rows) {
    return std::is_sorted(rows.begin(), rows.end(), [](const TTcpRow& a, const TTcpRow& b) {
        if (a.V6) {
            return std::make_tuple(a.LocalAddr6, PortFromField(a.LocalPort), a.RemoteAddr6, PortFromField(a.RemotePort)) <
                   std::make_tuple(b.LocalAddr6, PortFromField(b.LocalPort), b.RemoteAddr6, PortFromField(b.RemotePort));
        }
        return SortKey(a) < SortKey(b);
    });
}

bool HasPort(const TTcpRow& row, uint16_t port) {
    return PortFromField(row.LocalPort) == port || PortFromField(row.RemotePort) == port;
}

TEST(TableStateFromLinux, MapsEveryKernelStateOntoTheTableNumbering) {
    EXPECT_EQ(TableStateFromLinux(1), 5u);   // ESTABLISHED
    EXPECT_EQ(TableStateFromLinux(2), 3u);   // SYN_SENT
    EXPECT_EQ(TableStateFromLinux(3), 4u);   // SYN_RECV
    EXPECT_EQ(TableStateFromLinux(4), 6u);   // FIN_WAIT1
    EXPECT_EQ(TableStateFromLinux(5), 7u);   // FIN_WAIT2
    EXPECT_EQ(TableStateFromLinux(6), 11u);  // TIME_WAIT
    EXPECT_EQ(TableStateFromLinux(7), 1u);   // CLOSE
    EXPECT_EQ(TableStateFromLinux(8), 8u);   // CLOSE_WAIT
    EXPECT_EQ(TableStateFromLinux(9), 10u);  // LAST_ACK
    EXPECT_EQ(TableStateFromLinux(10), 2u);  // LISTEN
    EXPECT_EQ(TableStateFromLinux(11), 9u);  // CLOSING
    EXPECT_EQ(TableStateFromLinux(12), 4u);  // NEW_SYN_RECV
    EXPECT_EQ(TableStateFromLinux(0), 1u);
    EXPECT_EQ(TableStateFromLinux(200), 1u);
}

TEST(LinuxIpTables, ExtendedTcpShowsListenerAndBothEndsOfAConnectionWithOurPid) {
    const TUniqueFd listener = TcpListener();
    const uint16_t port = LocalPort(listener.Get());
    const test::TTcpConnection connection = Connect(listener.Get());
    TLinuxIpTables tables;
    ASSERT_TRUE(tables.ExTablesAvailable());

    const std::vector<TTcpRow> rows = FetchTcpEx(tables);

    bool foundListener = false;
    for (const TTcpRow& row : FindTcp(rows, port)) {
        if (row.State != kListening) continue;
        foundListener = true;
        EXPECT_EQ(row.LocalAddr, AddrField(127, 0, 0, 1));
        EXPECT_EQ(row.RemoteAddr, 0u);
        EXPECT_EQ(row.RemotePort, 0u);
        EXPECT_EQ(row.OwningPid, kOurPid);
    }
    EXPECT_TRUE(foundListener);

    const auto client = FindTcp(rows, connection.ClientPort, connection.ServerPort);
    const auto server = FindTcp(rows, connection.ServerPort, connection.ClientPort);
    ASSERT_EQ(client.size(), 1u);
    ASSERT_EQ(server.size(), 1u);
    EXPECT_EQ(client[0].State, kEstablished);
    EXPECT_EQ(server[0].State, kEstablished);
    EXPECT_EQ(client[0].OwningPid, kOurPid);
    EXPECT_EQ(server[0].OwningPid, kOurPid);
    EXPECT_EQ(server[0].LocalPort, PortField(port));
}

TEST(LinuxIpTables, PlainTcpFollowsTheSizeProtocolAndHasTheSameSocketsWithoutPids) {
    const TUniqueFd listener = TcpListener();
    const test::TTcpConnection connection = Connect(listener.Get());
    TLinuxIpTables tables;

    const std::vector<uint8_t> table = FetchPlain(tables, true, false);
    const std::vector<TTcpRow> rows = TcpRows(table, false);
    EXPECT_EQ(table.size(), kTableCountSize + rows.size() * kTcpRowSize);

    const auto listening = FindTcp(rows, LocalPort(listener.Get()));
    ASSERT_FALSE(listening.empty());
    EXPECT_EQ(listening[0].State, kListening);
    const auto client = FindTcp(rows, connection.ClientPort, connection.ServerPort);
    ASSERT_EQ(client.size(), 1u);
    EXPECT_EQ(client[0].State, kEstablished);
    for (const TTcpRow& row : rows) EXPECT_EQ(row.OwningPid, 0u);
}

TEST(LinuxIpTables, PlainFillHandsOverTheDumpMeasuredBySizeQuery) {
    TLinuxIpTables tables;
    uint32_t size = 0;
    ASSERT_EQ(tables.GetTcpTable(nullptr, size, true), kInsufficientBuffer);
    const uint32_t measured = size;

    // Opened between the two calls: the fill must not see it, or the
    // measured size could be too small.
    const TUniqueFd lateListener = TcpListener();
    std::vector<uint8_t> table(size + 1024);
    size = static_cast<uint32_t>(table.size());
    ASSERT_EQ(tables.GetTcpTable(table.data(), size, true), kTableOk);
    EXPECT_EQ(kTableCountSize + TableRowCount(table, kTcpRowSize) * kTcpRowSize, measured);
    EXPECT_TRUE(FindTcp(TcpRows(table, false), LocalPort(lateListener.Get())).empty());

    // The next size query dumps afresh.
    const std::vector<uint8_t> fresh = FetchPlain(tables, true, true);
    EXPECT_FALSE(FindTcp(TcpRows(fresh, false), LocalPort(lateListener.Get())).empty());
}

TEST(LinuxIpTables, PlainCallWithTooSmallBufferReportsSizeAndLeavesBufferAlone) {
    const TUniqueFd listener = TcpListener();
    TLinuxIpTables tables;
    uint8_t small[kTableCountSize] = {0xAA, 0xAA, 0xAA, 0xAA};
    uint32_t size = sizeof small;
    ASSERT_EQ(tables.GetTcpTable(small, size, false), kInsufficientBuffer);
    EXPECT_GE(size, kTableCountSize + kTcpRowSize);
    EXPECT_EQ(small[0], 0xAA);

    std::vector<uint8_t> table(size);
    ASSERT_EQ(tables.GetTcpTable(table.data(), size, false), kTableOk);
    EXPECT_FALSE(FindTcp(TcpRows(table, false), LocalPort(listener.Get())).empty());
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

    const std::vector<TTcpRow> ex = FetchTcpEx(tables);
    const std::vector<TTcpRow> plain = TcpRows(FetchPlain(tables, true, true), false);
    for (const auto* rows : {&ex, &plain}) {
        ASSERT_GE(rows->size(), 7u);
        for (size_t i = 1; i < rows->size(); ++i) {
            EXPECT_LE(SortKey((*rows)[i - 1]), SortKey((*rows)[i])) << "rows " << i - 1 << " and " << i;
        }
    }
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

    const std::vector<TTcpRow> rows = FetchTcpEx(tables);
    for (const TTcpRow& row : FindTcp(rows, gracefulClient, gracefulServer)) {
        EXPECT_NE(row.State, kEstablished);
        EXPECT_EQ(row.OwningPid, 0u) << "no process holds a closed socket";
    }
    for (const TTcpRow& row : FindTcp(rows, gracefulServer, gracefulClient)) EXPECT_NE(row.State, kEstablished);
    EXPECT_TRUE(FindTcp(rows, resetClient, resetServer).empty());
    EXPECT_TRUE(FindTcp(rows, resetServer, resetClient).empty());
}

TEST(LinuxIpTables, UdpSocketAppearsInBothUdpTablesWithOurPidInTheExtendedOne) {
    const TUniqueFd udp = UdpSocket();
    const uint16_t port = LocalPort(udp.Get());
    TLinuxIpTables tables;

    const auto ex = FindUdp(FetchUdpEx(tables), port);
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_EQ(ex[0].OwningPid, kOurPid);

    const std::vector<uint8_t> plainTable = FetchPlain(tables, false, true);
    EXPECT_EQ(FindUdp(UdpRows(plainTable, false), port).size(), 1u);
}

TEST(LinuxIpTables, UdpSocketOpenedJustAfterATcpFetchStillGetsItsPid) {
    TLinuxIpTables tables;
    FetchUdpEx(tables);
    FetchTcpEx(tables);
    // Opened after the TCP fetch's /proc scan, which the UDP fetch may reuse.
    const TUniqueFd udp = UdpSocket();
    const auto rows = FindUdp(FetchUdpEx(tables), LocalPort(udp.Get()));
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
    const std::vector<TUdpRow> rows = FetchUdpEx(tables);
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

    auto rows = FindTcp(FetchTcpEx(tables), port);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].State, kListening);
    EXPECT_EQ(rows[0].OwningPid, childPid);

    child.KillAndReap();
    std::vector<uint8_t> table;
    ASSERT_EQ(tables.GetTcpExTable(table), kTableOk);
    EXPECT_TRUE(FindTcp(TcpRows(table, true), port).empty());
}

TEST(LinuxIpTables, SocketSharedWithAChildIsAttributedToTheLowerPid) {
    const TUniqueFd udp = UdpSocket();
    const test::TChild child = test::ForkPausedChild();  // holds a copy of `udp`
    const uint32_t lower = std::min(kOurPid, static_cast<uint32_t>(child.Pid()));
    TLinuxIpTables tables;
    for (int i = 0; i < 3; ++i) {
        const auto rows = FindUdp(FetchUdpEx(tables), LocalPort(udp.Get()));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].OwningPid, lower);
    }
}

TEST(LinuxIpTables, ZombieAndExitedProcessesDoNotBreakAFetch) {
    test::TChild zombie = test::ForkExitingChild();
    usleep(20000);  // let it exit; it stays a zombie until reaped
    TLinuxIpTables tables;
    std::vector<uint8_t> table;
    EXPECT_EQ(tables.GetTcpExTable(table), kTableOk);
    EXPECT_EQ(tables.GetUdpExTable(table), kTableOk);
    zombie.KillAndReap();
    EXPECT_EQ(tables.GetTcpExTable(table), kTableOk);
}

TEST(LinuxIpTables, DualStackListenerIsAnIpv6RowAndItsIpv4ConnectionIsAnIpv4Row) {
    const TUniqueFd listener = test::TcpListener6("::", false);
    const uint16_t port = LocalPort(listener.Get());
    const test::TTcpConnection connection = Connect(listener.Get(), "127.0.0.1");
    TLinuxIpTables tables;

    // The accepted end is an AF_INET6 socket with IPv4-mapped ends.
    const std::vector<TTcpRow> rows = FetchTcpEx(tables);
    const auto server = FindTcp(rows, connection.ServerPort, connection.ClientPort);
    ASSERT_EQ(server.size(), 1u);
    EXPECT_FALSE(server[0].V6);
    EXPECT_EQ(server[0].State, kEstablished);
    EXPECT_EQ(server[0].OwningPid, kOurPid);
    EXPECT_EQ(FindTcp(rows, connection.ClientPort, connection.ServerPort).size(), 1u);
    EXPECT_TRUE(SortedByEnds(rows));

    size_t ofThePort = 0;
    for (const TTcpRow& row : FetchTcp6Ex(tables)) {
        if (!HasPort(row, port)) continue;
        ++ofThePort;
        EXPECT_EQ(row.State, kListening);
        EXPECT_EQ(row.LocalAddr6, TIp6Address{});
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

    const auto tcp = FindTcp(FetchTcpEx(tables), tcpPort);
    ASSERT_EQ(tcp.size(), 1u);
    EXPECT_EQ(tcp[0].State, kListening);
    EXPECT_EQ(tcp[0].OwningPid, kOurPid);
    const auto udpRows = FindUdp(FetchUdpEx(tables), udpPort);
    ASSERT_EQ(udpRows.size(), 1u);
    EXPECT_EQ(udpRows[0].OwningPid, kOurPid);

    for (const TTcpRow& row : FetchTcp6Ex(tables)) EXPECT_FALSE(HasPort(row, tcpPort));
    for (const TUdpRow& row : FetchUdp6Ex(tables)) EXPECT_NE(PortFromField(row.LocalPort), udpPort);
}

TEST(LinuxIpTables, Ipv6SocketsAreInTheIpv6TablesWithTheirPortsAndPid) {
    const TUniqueFd listener = test::TcpListener6();
    const test::TTcpConnection connection = Connect(listener.Get(), "::1");
    const TUniqueFd udp = test::UdpSocket6();
    const uint16_t udpPort = LocalPort(udp.Get());

    // Fetched alone, and after the IPv4 fetches as a refresh does (which
    // hand the IPv6 half of their dumps over).
    for (const bool afterIpv4 : {false, true}) {
        SCOPED_TRACE(afterIpv4 ? "after the IPv4 tables" : "alone");
        TLinuxIpTables tables;
        std::vector<TTcpRow> tcp4;
        std::vector<TUdpRow> udp4;
        if (afterIpv4) {
            tcp4 = FetchTcpEx(tables);
            udp4 = FetchUdpEx(tables);
        }
        const std::vector<TTcpRow> tcp = FetchTcp6Ex(tables);
        EXPECT_TRUE(SortedByEnds(tcp));
        const auto client = FindTcp6(tcp, connection.ClientPort, connection.ServerPort);
        const auto server = FindTcp6(tcp, connection.ServerPort, connection.ClientPort);
        ASSERT_EQ(client.size(), 1u);
        ASSERT_EQ(server.size(), 1u);
        for (const TTcpRow& row : {client[0], server[0]}) {
            EXPECT_TRUE(row.V6);
            EXPECT_EQ(row.State, kEstablished);
            EXPECT_EQ(row.OwningPid, kOurPid);
            EXPECT_EQ(row.Interface, 0u);
        }
        const auto ofListener = FindTcp6(tcp, LocalPort(listener.Get()));
        EXPECT_EQ(std::count_if(ofListener.begin(), ofListener.end(),
                                [](const TTcpRow& row) { return row.State == kListening; }),
                  1);

        const auto udpRows = FindUdp6(FetchUdp6Ex(tables), udpPort);
        ASSERT_EQ(udpRows.size(), 1u);
        EXPECT_EQ(udpRows[0].OwningPid, kOurPid);

        for (const TTcpRow& row : tcp4) EXPECT_FALSE(HasPort(row, connection.ServerPort));
        for (const TUdpRow& row : udp4) EXPECT_NE(PortFromField(row.LocalPort), udpPort);
    }
}

TEST(LinuxIpTables, Ipv6TableAfterAnIpv4FetchShowsThatMomentOnceThenDumpsAfresh) {
    TLinuxIpTables tables;
    FetchTcpEx(tables);
    const TUniqueFd late = test::TcpListener6();
    const uint16_t port = LocalPort(late.Get());
    EXPECT_TRUE(FindTcp6(FetchTcp6Ex(tables), port).empty());
    EXPECT_EQ(FindTcp6(FetchTcp6Ex(tables), port).size(), 1u);
}

// The per-state counts of `ss -tanH` (both families) over the sockets with
// one of `ports` at either end, in the table's state numbers.
std::map<uint32_t, int> StateCountsBySs(const std::vector<uint16_t>& ports) {
    static const std::map<std::string, uint32_t> kStates = {
        {"UNCONN", 1},     {"LISTEN", 2},     {"SYN-SENT", 3},   {"SYN-RECV", 4},
        {"ESTAB", 5},      {"FIN-WAIT-1", 6}, {"FIN-WAIT-2", 7}, {"CLOSE-WAIT", 8},
        {"CLOSING", 9},    {"LAST-ACK", 10},  {"TIME-WAIT", 11}};
    std::string filter;
    for (const uint16_t port : ports) {
        const std::string p = std::to_string(port);
        filter += (filter.empty() ? "" : " or ") + ("sport = :" + p + " or dport = :" + p);
    }
    std::map<uint32_t, int> counts;
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
    std::map<uint32_t, int> ours;
    std::map<uint32_t, int> before;
    for (int attempt = 0; attempt < 5; ++attempt) {
        before = StateCountsBySs(ports);
        ours.clear();
        for (const std::vector<TTcpRow>& rows : {FetchTcpEx(tables), FetchTcp6Ex(tables)}) {
            for (const TTcpRow& row : rows) {
                if (std::any_of(ports.begin(), ports.end(), [&](uint16_t port) { return HasPort(row, port); }))
                    ++ours[row.State];
            }
        }
        if (StateCountsBySs(ports) == before) break;
        usleep(100000);
    }
    EXPECT_EQ(ours, before);
    EXPECT_EQ(before[kListening], 3);
    EXPECT_EQ(before[kEstablished], 8);
    EXPECT_EQ(before[11], 1);  // Time_Wait
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

// What `take` hands over for TCP row `localPort` -> `remotePort` after one
// extended fetch of both families, found among the rows it is aligned with.
template <typename TTake>
auto KeptForRow(TLinuxIpTables& tables, TTake take, bool v6, uint16_t localPort, uint16_t remotePort) {
    std::vector<uint8_t> table, table6;
    EXPECT_EQ(tables.GetTcpExTable(table), kTableOk);
    EXPECT_EQ(tables.GetTcp6ExTable(table6), kTableOk);
    std::vector<TTcpRow> rows = TcpRows(table, true);
    const std::vector<TTcpRow> rows6 = test::TcpRows6(table6);
    rows.insert(rows.end(), rows6.begin(), rows6.end());
    const auto kept = take(tables);
    EXPECT_EQ(kept.size(), rows.size());
    for (size_t i = 0; i < rows.size() && i < kept.size(); ++i) {
        if (rows[i].V6 == v6 && PortFromField(rows[i].LocalPort) == localPort &&
            PortFromField(rows[i].RemotePort) == remotePort)
            return std::optional(kept[i]);
    }
    return std::optional<typename decltype(kept)::value_type>();
}

std::optional<TSocketTraffic> CountersOf(TLinuxIpTables& tables, bool v6, uint16_t localPort, uint16_t remotePort) {
    return KeptForRow(tables, [](TLinuxIpTables& t) { return t.TakeTcpTraffic(); }, v6, localPort, remotePort);
}

TEST(LinuxIpTables, EachTcpRowCarriesTheCookieAndInodeOfItsSocket) {
    TLinuxIpTables tables;
    for (const bool v6 : {false, true}) {
        SCOPED_TRACE(v6 ? "IPv6" : "IPv4");
        const TUniqueFd listener = v6 ? test::TcpListener6() : TcpListener();
        const test::TTcpConnection c = Connect(listener.Get(), v6 ? "::1" : "127.0.0.1");
        TSocketIdentity expected;
        socklen_t length = sizeof expected.Cookie;
        ASSERT_EQ(getsockopt(c.Client.Get(), SOL_SOCKET, SO_COOKIE, &expected.Cookie, &length), 0);
        struct stat status {};
        ASSERT_EQ(fstat(c.Client.Get(), &status), 0);
        expected.Inode = status.st_ino;
        const auto identity = KeptForRow(
            tables, [](TLinuxIpTables& t) { return t.TakeTcpIdentities(); }, v6, c.ClientPort, c.ServerPort);
        ASSERT_TRUE(identity);
        EXPECT_EQ(*identity, expected);
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
        const std::optional<TSocketTraffic> client = CountersOf(tables, v6, c.ClientPort, c.ServerPort);
        const std::optional<TSocketTraffic> server = CountersOf(tables, v6, c.ServerPort, c.ClientPort);
        ASSERT_TRUE(client && server);
        EXPECT_TRUE(client->Known && server->Known);
        EXPECT_EQ(std::make_pair(client->BytesSent, client->BytesReceived), std::make_pair(1000ul, 2500ul));
        EXPECT_EQ(std::make_pair(server->BytesSent, server->BytesReceived), std::make_pair(2500ul, 1000ul));
        // Each end is its own socket, told apart by its cookie.
        EXPECT_NE(client->Socket, 0u);
        EXPECT_NE(client->Socket, server->Socket);
    }
}

TEST(LinuxIpTablesTraffic, HandsOverNoCountersWhenSwitchedOffAndNoneForAListener) {
    TLinuxIpTables tables;
    const TUniqueFd listener = TcpListener();
    const uint16_t port = test::LocalPort(listener.Get());
    const auto counters = CountersOf(tables, false, port, 0);
    ASSERT_TRUE(counters);
    EXPECT_FALSE(counters->Known);  // a listener moves no data of its own

    tables.SetReadTraffic(false);
    std::vector<uint8_t> table;
    ASSERT_EQ(tables.GetTcpExTable(table), kTableOk);
    EXPECT_TRUE(tables.TakeTcpTraffic().empty());
}

}  // namespace
}  // namespace tarnwick

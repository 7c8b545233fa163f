// The IP helper's tables on real loopback sockets: the ends, the states, the
// owners, and IPv4 connections of a dual-stack socket as IPv4 rows.
#include "platform/windows/windows_ip_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "loopback_sockets.h"

namespace tarnwick {
namespace {

using testing::ConnectIpv4;
using testing::Listen;
using testing::LocalPortOf;

const TInetAddress kLoopback = TInetAddress::Ipv4(127, 0, 0, 1);

std::optional<TTcpRow> FindRow(const TTcpTable& table, uint16_t localPort, uint16_t remotePort, bool v6 = false) {
    const auto found = std::find_if(table.Rows.begin(), table.Rows.end(), [&](const TTcpRow& row) {
        return row.LocalPort == localPort && row.RemotePort == remotePort && row.V6() == v6;
    });
    if (found == table.Rows.end()) return std::nullopt;
    return *found;
}

class WindowsIpTables : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartWinsock()); }
    TWindowsIpTables Tables;
};

TEST_F(WindowsIpTables, LoopbackListenerAndConnectionWithTheirEndsAndStates) {
    const TUniqueSocket listener = Listen(AF_INET);
    const uint16_t port = LocalPortOf(listener.Get());
    const auto connection = ConnectIpv4(listener.Get(), port);
    const uint16_t clientPort = LocalPortOf(connection.Client.Get());
    ASSERT_NE(port, 0);
    ASSERT_NE(clientPort, 0);

    const TResult<TTcpTable> table = Tables.FetchTcp({});
    ASSERT_TRUE(table) << table.Failure().Text();
    const auto listening = FindRow(*table, port, 0);
    ASSERT_TRUE(listening);
    EXPECT_EQ(listening->State, TTcpState::Listening);
    EXPECT_EQ(listening->LocalAddr, kLoopback);
    EXPECT_TRUE(listening->RemoteAddr.Unspecified());
    for (const auto& [local, remote] : {std::pair{clientPort, port}, std::pair{port, clientPort}}) {
        const auto row = FindRow(*table, local, remote);
        ASSERT_TRUE(row) << local << " -> " << remote;
        EXPECT_EQ(row->State, TTcpState::Established);
        EXPECT_EQ(row->LocalAddr, kLoopback);
        EXPECT_EQ(row->RemoteAddr, kLoopback);
        // Ours, or 0 where the system names no owner (Wine, for the host's own sockets).
        // Wine names no owner of any socket (8.0 reads 0 for all); Windows names us.
        EXPECT_EQ(row->OwningPid, testing::RunsUnderWine() ? 0 : ::GetCurrentProcessId());
    }
    // The IPv4 rows come first, in the order of their ends.
    const auto v4End = table->Rows.end() - static_cast<std::ptrdiff_t>(table->Ipv6Rows);
    EXPECT_TRUE(std::all_of(table->Rows.begin(), v4End, [](const TTcpRow& row) { return !row.V6(); }));
    EXPECT_TRUE(std::is_sorted(table->Rows.begin(), v4End, [](const TTcpRow& a, const TTcpRow& b) {
        return std::tie(a.LocalAddr, a.LocalPort, a.RemoteAddr, a.RemotePort) <
               std::tie(b.LocalAddr, b.LocalPort, b.RemoteAddr, b.RemotePort);
    }));
}

TEST_F(WindowsIpTables, Ipv6RowsOnlyWhenAskedAndDualStackIpv4ConnectionsAsIpv4Rows) {
    const TUniqueSocket listener6 = Listen(AF_INET6);
    const uint16_t port6 = LocalPortOf(listener6.Get());
    const TUniqueSocket dual = Listen(AF_INET6, true);
    const uint16_t dualPort = LocalPortOf(dual.Get());
    const auto connection = ConnectIpv4(dual.Get(), dualPort);
    const uint16_t clientPort = LocalPortOf(connection.Client.Get());

    const TResult<TTcpTable> table = Tables.FetchTcp({});
    ASSERT_TRUE(table) << table.Failure().Text();
    const auto listening6 = FindRow(*table, port6, 0, true);
    ASSERT_TRUE(listening6);
    EXPECT_EQ(listening6->LocalAddr.Text(), "::1");
    EXPECT_GE(table->Ipv6Rows, 1u);
    // The accepted end of the dual-stack listener carries IPv4.
    const auto accepted = FindRow(*table, dualPort, clientPort);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->LocalAddr, kLoopback);
    EXPECT_EQ(accepted->RemoteAddr, kLoopback);

    const TResult<TTcpTable> v4Only = Tables.FetchTcp({.Ipv6 = false});
    ASSERT_TRUE(v4Only);
    EXPECT_FALSE(FindRow(*v4Only, port6, 0, true));
    EXPECT_EQ(v4Only->Ipv6Rows, 0u);
    EXPECT_TRUE(FindRow(*v4Only, dualPort, clientPort));
}

TEST_F(WindowsIpTables, BoundUdpSocketsOfBothFamilies) {
    TUniqueSocket udp(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(udp.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    TUniqueSocket udp6(::socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    ASSERT_EQ(::bind(udp6.Get(), reinterpret_cast<const sockaddr*>(&address6), sizeof address6), 0);

    const TResult<TUdpTable> table = Tables.FetchUdp({});
    ASSERT_TRUE(table) << table.Failure().Text();
    const auto has = [&](uint16_t port, const std::string& text) {
        return std::any_of(table->Rows.begin(), table->Rows.end(), [&](const TUdpRow& row) {
            return row.LocalPort == port && row.LocalAddr.Text() == text;
        });
    };
    EXPECT_TRUE(has(LocalPortOf(udp.Get()), "127.0.0.1"));
    EXPECT_TRUE(has(LocalPortOf(udp6.Get()), "::1"));
}

}  // namespace
}  // namespace tarnwick

// The connection behind a selected grid row: found by its identity in the
// current tables, whatever row it sits in now, and the commands a row offers.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fakes/fake_platform.h"
#include "monitor/grid_rows.h"
#include "monitor/selected_connection.h"

namespace tarnwick {
namespace {

using testing::Ipv4;
using testing::TcpRow;
using testing::TFakeIpTables;
using testing::TFakeProcessList;
using testing::UdpRow;

class SelectedConnection : public ::testing::Test {
protected:
    void Fetch() {
        TFakeProcessList processes;
        Snapshot.FetchTables(Tables, processes);
    }
    TConnectionRow Shown(bool tcp, uint32_t index) {
        TConnectionRow row;
        row.Key = tcp ? KeyOfTcpRow(Snapshot.TcpRow(index)) : KeyOfUdpRow(Snapshot.UdpRow(index));
        if (tcp) row.State = Snapshot.TcpRow(index).State;
        return row;
    }

    TFakeIpTables Tables;
    ConnectionSnapshot Snapshot;
};

TEST_F(SelectedConnection, FollowsTheConnectionToWhereverItSitsNowAndSaysWhenItIsGone) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40000, Ipv4(10, 0, 0, 5), 443, 11)};
    Tables.UdpRows = {UdpRow({}, 6000, 21)};
    Fetch();
    const TConnectionRow tcp = Shown(true, 0), udp = Shown(false, 0);

    // A connection that sorts earlier appears: the shown rows now sit one further down.
    Tables.TcpRows.insert(Tables.TcpRows.begin(), TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 1000, Ipv4(10, 0, 0, 9), 22, 12));
    Tables.UdpRows.insert(Tables.UdpRows.begin(), UdpRow({}, 53, 22));
    Fetch();
    const auto foundTcp = FindShownConnection(Snapshot, &tcp);
    ASSERT_TRUE(foundTcp);
    EXPECT_EQ(foundTcp->Index, 1u);
    EXPECT_EQ(foundTcp->OwningPid(), 11u);
    const auto foundUdp = FindShownConnection(Snapshot, &udp);
    ASSERT_TRUE(foundUdp);
    EXPECT_EQ(foundUdp->OwningPid(), 21u);

    Tables.TcpRows.pop_back();
    Fetch();
    EXPECT_FALSE(FindShownConnection(Snapshot, &tcp));
    EXPECT_FALSE(FindShownConnection(Snapshot, nullptr));
}

TEST_F(SelectedConnection, WithoutALocalAddressAnEstablishedEntryComesFirst) {
    Tables.TcpRows = {TcpRow(TTcpState::TimeWait, Ipv4(127, 0, 0, 1), 5000, Ipv4(10, 0, 0, 5), 80, 1),
                      TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 5000, Ipv4(10, 0, 0, 5), 80, 2)};
    Fetch();
    const auto found = Snapshot.FindConnection(TConnectionKey{true, std::nullopt, 5000, Ipv4(10, 0, 0, 5), 80});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->TcpRow.OwningPid, 2u);
}

TEST_F(SelectedConnection, AnIpv6KeyMayLeaveItsLocalEndOpenWhileAShownRowComparesIt) {
    const auto row6 = [](TTcpState state, const std::string& local, uint32_t interface, uint32_t pid) {
        TTcpRow row = testing::Tcp6Row(state, local.c_str(), 5000, "2001:db8::5", 80, pid);
        row.Interface = interface;
        return row;
    };
    Tables.Tcp6Rows = {row6(TTcpState::TimeWait, "fe80::1", 2, 1), row6(TTcpState::Established, "fe80::2", 3, 2)};
    Fetch();

    TConnectionKey wanted = KeyOfTcpRow(Snapshot.TcpRow(0));
    wanted.LocalAddr = TInetAddress::Ipv6({});
    wanted.Interface = 0;
    EXPECT_FALSE(Snapshot.FindConnection(wanted));
    wanted.LocalAddr.reset();
    const auto found = Snapshot.FindConnection(wanted);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->TcpRow.OwningPid, 2u);

    const auto shown = Snapshot.FindConnection(KeyOfTcpRow(Snapshot.TcpRow(0)));
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->TcpRow.OwningPid, 1u);
}

TEST_F(SelectedConnection, RowsOfferClosingWhenEstablishedAndCaptureForThoseAndUdp) {
    Tables.TcpRows = {TcpRow(TTcpState::Listening, {}, 8080, {}, 0, 1), TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40000, Ipv4(10, 0, 0, 5), 443, 1)};
    Tables.UdpRows = {UdpRow({}, 6000, 1)};
    Fetch();
    const TConnectionRow listener = Shown(true, 0), established = Shown(true, 1), udp = Shown(false, 0);
    const TConnectionRow blank;
    EXPECT_FALSE(AvailableRowCommands(&listener).Kill);
    EXPECT_FALSE(AvailableRowCommands(&listener).Capture);
    EXPECT_TRUE(AvailableRowCommands(&established).Kill);
    EXPECT_TRUE(AvailableRowCommands(&established).Capture);
    EXPECT_FALSE(AvailableRowCommands(&udp).Kill);
    EXPECT_TRUE(AvailableRowCommands(&udp).Capture);
    EXPECT_FALSE(AvailableRowCommands(&blank).Capture);
    EXPECT_FALSE(AvailableRowCommands(nullptr).Capture);
}

// The grid's key-to-row map through what refreshes do to the rows: every
// connection written, then the rows re-ordered, rewritten in place, and the
// grid shrunk, with connections that come and go.
TEST(GridRows, FindEachConnectionsRowThroughReorderingAndShrinking) {
    const auto key = [](int n) {
        return TConnectionKey{true, TInetAddress::Ipv4(1, 0, 0, 0), static_cast<uint16_t>(n), TInetAddress::FromIpv4Field(static_cast<uint32_t>(n) << 24), 443};
    };
    constexpr int kRows = 300;
    std::vector<int> order(kRows);
    for (int i = 0; i < kRows; ++i) order[static_cast<size_t>(i)] = i;
    TGridRows grid;
    const auto write = [&] {
        grid.SetRowCount(static_cast<int>(order.size()) + 1);
        for (size_t row = 0; row < order.size(); ++row) {
            TConnectionRow texts;
            texts.Key = key(order[row]);
            grid.WriteRow(static_cast<int>(row) + 1, texts);
        }
    };
    const auto expectFound = [&](int gone) {
        for (size_t row = 0; row < order.size(); ++row) ASSERT_EQ(grid.RowOf(key(order[row])), static_cast<int>(row) + 1);
        EXPECT_EQ(grid.RowOf(key(gone)), 0);
    };
    write();
    expectFound(kRows);
    std::mt19937 random(7);
    std::shuffle(order.begin(), order.end(), random);
    write();
    expectFound(kRows);
    const int gone = order[kRows / 10];
    order.resize(kRows / 10);  // most connections gone, the rest moved up
    order.push_back(kRows);
    write();
    expectFound(gone);
}

}  // namespace
}  // namespace tarnwick

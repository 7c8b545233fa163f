// How a refresh sizes and fills the grid, and the order of its hand-overs.
#include <gtest/gtest.h>

#include <stdexcept>

#include "monitor/grid_row_mapping.h"
#include "monitor/refresh_fixture.h"

namespace tarnwick::testing {
namespace {

constexpr TInetAddress kLocal = Ipv4(192, 168, 1, 2);

class RefreshGrid : public RefreshFixture {
protected:
    void GiveRows(int tcp, int udp) {
        Tables.TcpRows.clear();
        Tables.UdpRows.clear();
        for (int i = 0; i < tcp; ++i)
            Tables.TcpRows.push_back(TcpRow(TTcpState::Established, kLocal, static_cast<uint16_t>(40000 + i),
                                            Ipv4(10, 0, 0, 5), 443, 1));
        for (int j = 0; j < udp; ++j) Tables.UdpRows.push_back(UdpRow({}, static_cast<uint16_t>(6000 + j), 1));
    }
};

TEST_F(RefreshGrid, TcpRowsThenUdpRowsUnderTheHeader) {
    GiveRows(5, 2);
    Refresh();
    ASSERT_EQ(Outlets.Grid.RowCount(), 8);
    EXPECT_EQ(Outlets.Grid.Row(0).RemoteAddr, "Remote Addr");
    EXPECT_EQ(Outlets.Grid.Row(5).LocalPort, "40004");
    EXPECT_EQ(Outlets.Grid.Row(6).Protocol, "UDP");
    EXPECT_EQ(Outlets.Grid.Row(6).LocalPort, "6000");
}

TEST_F(RefreshGrid, HiddenTcpPutsUdpRowsRightUnderTheHeader) {
    GiveRows(5, 3);
    View.ShowTcp = false;
    Refresh();
    ASSERT_EQ(Outlets.Grid.RowCount(), 4);
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(Outlets.Grid.Row(r).Protocol, "UDP");
}

TEST_F(RefreshGrid, BothViewsHiddenLeaveOneBlankRow) {
    GiveRows(3, 3);
    Refresh();
    View.ShowTcp = false;
    View.ShowUdp = false;
    Refresh();
    EXPECT_EQ(Outlets.Calls.front(), "size 2");
    EXPECT_EQ(Outlets.Grid.RowCount(), 2);
    EXPECT_EQ(Outlets.Grid.Row(1), TConnectionRow{});
}

TEST_F(RefreshGrid, SameRowCountIsLeftAloneAndEveryRowOverwritten) {
    GiveRows(2, 1);
    Refresh();
    Tables.TcpRows[0].LocalPort = 41000;
    Refresh();
    EXPECT_EQ(Outlets.Calls.front().rfind("size", 0), std::string::npos);
    EXPECT_EQ(Outlets.Grid.Row(1).LocalPort, "41000");
}

TEST_F(RefreshGrid, EventThenRuleCheckThenGridRow) {
    GiveRows(1, 0);
    Refresh();
    // A new grid already has its one data row, so it is not resized.
    ASSERT_EQ(Outlets.Calls.size(), 3u);
    EXPECT_EQ(Outlets.Calls[0].rfind("log 2 ", 0), 0u);
    EXPECT_EQ(Outlets.Calls[1], "rules 0 10.0.0.5 40000 443");
    EXPECT_EQ(Outlets.Calls[2], "grid 1");
}

TEST_F(RefreshGrid, ProcessListIsClosedAfterEveryRefreshAlsoAFailingOne) {
    GiveRows(1, 0);
    Refresh();
    EXPECT_EQ(Snapshot.Processes(), nullptr);

    class TThrowingOutlets final : public TRefreshOutlets {
    public:
        int GridRowCount() override { return 2; }
        void SetGridRowCount(int) override {}
        void WriteGridRow(int, const TConnectionRow&) override { throw std::runtime_error("grid gone"); }
        void AddLog(const std::string&, LogKind, const std::optional<TLogConnection>&) override {}
        void CheckRules(int, const TLogConnection&) override {}
    } throwing;
    EXPECT_THROW(Runner.Run(throwing), std::runtime_error);
    EXPECT_EQ(Snapshot.Processes(), nullptr);
}

TEST_F(RefreshGrid, RemoteAddressesAreResolvedOnceEachBeforeTheRows) {
    GiveRows(3, 0);
    Tables.TcpRows.push_back(TcpRow(TTcpState::Listening, {}, 80, {}, 0, 1));
    Refresh();
    ASSERT_EQ(Names.ResolveRequests.size(), 1u);
    EXPECT_EQ(Names.ResolveRequests[0], std::vector<uint32_t>{Ipv4(10, 0, 0, 5).Ipv4Field()});
}

TEST(GridRows, NeverFewerThanTwoRowsAndWritesOutsideAreIgnored) {
    TGridRows grid;
    grid.SetRowCount(0);
    EXPECT_EQ(grid.RowCount(), 2);
    grid.WriteRow(0, TConnectionRow{"x", "", "", "", "", ""});
    grid.WriteRow(2, TConnectionRow{"x", "", "", "", "", ""});
    EXPECT_EQ(grid.Row(0).RemoteAddr, "Remote Addr");
    EXPECT_EQ(grid.ToText(), "Remote Addr\tRemote Port\tLocal Port\tProtocol\tStatus\tProcess\n\t\t\t\t\t\n");
}

}  // namespace
}  // namespace tarnwick::testing

namespace tarnwick::testing {
namespace {

TEST_F(RefreshGrid, SelectedGridRowMapsBackToItsSnapshotRow) {
    GiveRows(5, 2);
    Refresh();
    EXPECT_EQ(SnapshotRowOfGridRow(0, true, true, Snapshot), std::nullopt);
    EXPECT_EQ(SnapshotRowOfGridRow(1, true, true, Snapshot), (TSnapshotRowRef{true, 0}));
    EXPECT_EQ(SnapshotRowOfGridRow(5, true, true, Snapshot), (TSnapshotRowRef{true, 4}));
    EXPECT_EQ(SnapshotRowOfGridRow(6, true, true, Snapshot), (TSnapshotRowRef{false, 0}));
    EXPECT_EQ(SnapshotRowOfGridRow(8, true, true, Snapshot), std::nullopt);
    // TCP hidden: the UDP rows sit right under the header.
    EXPECT_EQ(SnapshotRowOfGridRow(1, false, true, Snapshot), (TSnapshotRowRef{false, 0}));
    EXPECT_EQ(SnapshotRowOfGridRow(3, false, true, Snapshot), std::nullopt);
    // UDP hidden: nothing past the TCP rows.
    EXPECT_EQ(SnapshotRowOfGridRow(6, true, false, Snapshot), std::nullopt);
    EXPECT_EQ(SnapshotRowOfGridRow(1, false, false, Snapshot), std::nullopt);
    // The Protocol cell says the same as the mapping.
    for (int r = 1; r < Outlets.Grid.RowCount(); ++r)
        EXPECT_EQ(SnapshotRowOfGridRow(r, true, true, Snapshot)->Tcp, Outlets.Grid.Row(r).Protocol == "TCP") << r;
}

TEST_F(RefreshGrid, TheBlankRowOfAnEmptyGridNamesNoRow) {
    Refresh();
    EXPECT_EQ(SnapshotRowOfGridRow(1, true, true, Snapshot), std::nullopt);
}

}  // namespace
}  // namespace tarnwick::testing

// The grid as narrowed and ordered by the user: which rows a filter keeps,
// the order a sort gives them, and how both follow the refreshes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/grid_view.h"
#include "monitor/refresh_fixture.h"

namespace tarnwick::testing {
namespace {

constexpr TInetAddress kLocal = Ipv4(192, 168, 1, 2);

class GridView : public RefreshFixture {
protected:
    void SetUp() override {
        View.ReadTraffic = true;
        Processes.Entries = {{1, "Firefox"}, {2, "curl"}, {3, "sshd"}, {4, "a-very-long-program-b"},
                             {5, "A-Very-Long-Program-a"}};
        Names.Services[443] = {"https", "tcp"};
        Names.Hosts[Ipv4(10, 0, 0, 5).Ipv4Field()] = "www.example.org";
        Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 40000, Ipv4(10, 0, 0, 5), 443, 1),
                          TcpRow(TTcpState::Established, kLocal, 40001, Ipv4(9, 0, 0, 1), 80, 2),
                          TcpRow(TTcpState::Listening, {}, 22, {}, 0, 3),
                          TcpRow(TTcpState::Established, kLocal, 40002, Ipv4(10, 0, 0, 7), 8080, 4),
                          TcpRow(TTcpState::Established, kLocal, 40003, Ipv4(10, 0, 0, 7), 8080, 5)};
        Tables.TcpRows[0].Traffic = {5'000'000, 10, true};
        Tables.Tcp6Rows = {Tcp6Row(TTcpState::Established, "2001:db8::2", 40004, "100::1", 443, 1)};
        Tables.UdpRows = {UdpRow({}, 53, 3)};
        Refresh();
    }
    // The local ports of the rows shown, in order: each row has its own.
    std::vector<int> Shown(const std::string& filter, std::optional<TGridSort> sort = std::nullopt) {
        Grid.SetFilter(filter);
        Grid.SetSort(sort);
        Grid.Update(Outlets.Grid);
        std::vector<int> ports;
        for (int p = 0; p < Grid.ShownCount(); ++p) ports.push_back(Outlets.Grid.Row(Grid.GridRowAt(p)).Key->LocalPort);
        return ports;
    }
    static TGridSort By(const char* title, bool descending = false) { return {GridColumnOf(title), descending}; }

    TGridView Grid;
};

TEST_F(GridView, AFilterKeepsTheRowsThatHoldEveryWordInAnyColumnShownOrNot) {
    EXPECT_EQ(Shown("FIREFOX"), (std::vector<int>{40000, 40004}));  // either case
    EXPECT_EQ(Shown("  firefox\t443 "), (std::vector<int>{40000, 40004}));  // the port's number behind "https"
    EXPECT_EQ(Shown("10.0.0.5"), (std::vector<int>{40000}));  // the address behind the host's name
    EXPECT_EQ(Shown("example fire"), (std::vector<int>{40000}));
    EXPECT_EQ(Shown("mb"), (std::vector<int>{40000}));  // "4.8 MB" sent: a traffic text, though not shown
    EXPECT_EQ(Shown("100::1"), (std::vector<int>{40004}));
    EXPECT_EQ(Shown("firefox curl"), (std::vector<int>{}));  // both words, in one row
    EXPECT_EQ(Shown("udp 53"), (std::vector<int>{53}));
    EXPECT_EQ(Grid.Filter().Text(), "udp 53");
    EXPECT_EQ(Grid.Description(), "matching \"udp 53\"");
    Shown(" \t");
    EXPECT_FALSE(Grid.Active());  // no words: every row, in the tables' order
}

TEST_F(GridView, ASortOrdersNumbersAsNumbersAddressesAsAddressesAndTextsWhatever) {
    // Equal keys keep the tables' order both ways; UDP's "*" port sorts as 0.
    EXPECT_EQ(Shown("", By("Remote Port")), (std::vector<int>{22, 53, 40001, 40000, 40004, 40002, 40003}));
    EXPECT_EQ(Shown("", By("Remote Port", true)), (std::vector<int>{40002, 40003, 40000, 40004, 40001, 22, 53}));
    // IPv4 before IPv6, each by its bytes: 9.0.0.1 before 10.0.0.5, 100::1 after both.
    EXPECT_EQ(Shown("est", By("Remote Addr")), (std::vector<int>{40001, 40000, 40002, 40003, 40004}));
    // Letters in either case; texts alike for sixteen bytes are told apart after.
    EXPECT_EQ(Shown("", By("Process")), (std::vector<int>{40003, 40002, 40001, 40000, 40004, 22, 53}));
    EXPECT_EQ(Shown("long", By("Process")), (std::vector<int>{40003, 40002}));
    // Unknown traffic ("-") before any known.
    EXPECT_EQ(Shown("", By("Sent", true)).front(), 40000);
    EXPECT_EQ(Shown("", By("Sent")).back(), 40000);
    EXPECT_EQ(Grid.Description(), "sorted by Sent");

    // A click sorts up, a second down, a third goes back to the tables' order.
    std::optional<TGridSort> sort;
    sort = NextGridSort(sort, 1);
    EXPECT_EQ(sort, (TGridSort{1, false}));
    sort = NextGridSort(sort, 1);
    EXPECT_EQ(sort, (TGridSort{1, true}));
    EXPECT_EQ(NextGridSort(sort, 1), std::nullopt);
    EXPECT_EQ(NextGridSort(sort, 2), (TGridSort{2, false}));
}

TEST_F(GridView, NewRowsTakeTheirPlaceAndAConnectionIsFoundWhereverARefreshPutsIt) {
    Shown("", By("Local Port", true));
    const int before = Grid.GridRowAt(2);
    const TConnectionKey followed = *Outlets.Grid.Row(before).Key;
    ASSERT_EQ(followed.LocalPort, 40002);

    // Listed first in the tables, it moves every row down one; its port places it sixth.
    Tables.TcpRows.insert(Tables.TcpRows.begin(), TcpRow(TTcpState::Established, kLocal, 1000, Ipv4(10, 0, 0, 9), 80, 2));
    Refresh();
    EXPECT_EQ(Shown("", By("Local Port", true)), (std::vector<int>{40004, 40003, 40002, 40001, 40000, 1000, 53, 22}));
    EXPECT_EQ(Outlets.Grid.RowOf(followed), before + 1);
    EXPECT_EQ(Grid.PositionOf(Outlets.Grid.RowOf(followed)), 2);

    // The same rows with a value changed: sorted again, not kept as they were.
    Tables.TcpRows[0].LocalPort = 50000;
    Refresh();
    Grid.Update(Outlets.Grid);
    EXPECT_EQ(Outlets.Grid.Row(Grid.GridRowAt(0)).Key->LocalPort, 50000);

    // Two rows that become equal are in the tables' order, whatever their order before.
    Tables.TcpRows[0].RemotePort = 9000;
    Refresh();
    EXPECT_EQ(Shown("", By("Remote Port")), (std::vector<int>{22, 53, 40001, 40000, 40004, 40002, 40003, 50000}));
    Tables.TcpRows[0].RemotePort = 80;  // as 40001's
    Refresh();
    EXPECT_EQ(Shown("", By("Remote Port")), (std::vector<int>{22, 53, 50000, 40001, 40000, 40004, 40002, 40003}));
}

}  // namespace
}  // namespace tarnwick::testing

// Locations in a refresh: the grid's Country and Network cells and the
// location of a connection's log entries, looked up only while shown, and
// never waited for by a refresh on a window's thread.
#include <chrono>
#include <thread>

#include "monitor/location_texts.h"
#include "monitor/refresh_fixture.h"

namespace tarnwick::testing {
namespace {

const TInetAddress kTelekom = Ipv4(2, 160, 0, 1);

class LocationRows : public RefreshFixture {
protected:
    void SetUp() override {
        Tables.TcpRows = {TcpRow(TTcpState::Listening, {}, 8080, {}, 0, 10),
                          TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40000, kTelekom, 443, 10),
                          TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40001, Ipv4(192, 168, 1, 9), 22, 10)};
        Tables.UdpRows = {UdpRow({}, 5353, 10)};
        Processes.Entries = {{10, "client"}};
        Database.Set(kTelekom, {"DE", "Germany", 3320, "Deutsche Telekom AG"});
        Runner.Locations = &Locations;
    }
    // The Country and Network cells of grid row `row`, tab-separated.
    std::string LocationCells(int row) {
        const TConnectionRow& texts = Outlets.Grid.Row(row);
        return LocationCellText(texts, 0) + "\t" + LocationCellText(texts, 1);
    }

    TFakeLocationDatabase Database;
    TLocationCache Locations{Database.Opener()};
};

TEST_F(LocationRows, NothingIsLookedUpWhileNotShown) {
    Refresh();
    EXPECT_EQ(Database.Opens(), 0);
    EXPECT_FALSE(Outlets.Grid.Row(2).Location);
    EXPECT_FALSE(Outlets.LogConnections.at(0)->RemoteLocation);
}

TEST_F(LocationRows, RowsAndTheirEventsCarryTheLocationOfTheirRemoteAddress) {
    View.ShowLocation = true;
    Refresh();
    EXPECT_EQ(LocationCells(1), "-\t-");  // a listener
    EXPECT_EQ(LocationCells(2), "DE\tAS3320 Deutsche Telekom AG");
    EXPECT_EQ(LocationCells(3), "-\t-");  // a private address
    EXPECT_EQ(LocationCells(4), "-\t-");  // UDP
    EXPECT_EQ(LocationToolTip(Outlets.Grid.Row(2)), "Germany\nAS3320 Deutsche Telekom AG");
    const std::string text = Outlets.Grid.ToText(std::nullopt, true);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "Remote Addr\tRemote Port\tLocal Port\tProtocol\tStatus\tProcess\tCountry\tNetwork");
    EXPECT_NE(text.find("\tclient\tDE\tAS3320 Deutsche Telekom AG\n"), std::string::npos);
    ASSERT_EQ(Outlets.LogConnections.size(), 2u);  // the two established connections, in their order
    ASSERT_TRUE(Outlets.LogConnections[0]->RemoteLocation);
    EXPECT_EQ(Outlets.LogConnections[0]->RemoteLocation->Asn, 3320u);
    EXPECT_FALSE(Outlets.LogConnections[1]->RemoteLocation);

    // Gone, the connection is still said to be where it was.
    Tables.TcpRows.erase(Tables.TcpRows.begin() + 1);
    Refresh();
    ASSERT_EQ(Outlets.LogConnections.size(), 1u);
    ASSERT_TRUE(Outlets.LogConnections[0]->RemoteLocation);
    EXPECT_EQ(Outlets.LogConnections[0]->RemoteLocation->CountryCode, "DE");
}

TEST_F(LocationRows, ARefreshOnTheWindowsThreadShowsANewAddressFromTheNextRefreshOn) {
    View.ShowLocation = true;
    Runner.LocationBudget = std::chrono::seconds(20);
    Outlets.MayWait = false;
    const auto started = std::chrono::steady_clock::now();
    Refresh();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(LocationCells(2), "-\t-");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Locations.Find(kTelekom) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Refresh();
    EXPECT_EQ(LocationCells(2), "DE\tAS3320 Deutsche Telekom AG");
}

}  // namespace
}  // namespace tarnwick::testing

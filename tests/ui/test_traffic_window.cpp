// Traffic in the window: the grid's four columns behind "Show Traffic" and
// their stored switch, and the traffic window's ranking and chart.
#include <QAction>
#include <QTableWidget>

#include "common/temp_folder.h"
#include "log/html_report.h"
#include "rules/options_file.h"
#include "ui/main_form_fixture.h"
#include "ui/traffic_form.h"

namespace tarnwick::testing {
namespace {

class TrafficWindow : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        ExecutableDir = Folder.Path();
        SetCounters({{0, 0, true}, {1000, 2048, true}});
    }
    // The counters of the TCP rows, in their order.
    void SetCounters(const std::vector<TSocketTraffic>& counters) {
        for (size_t i = 0; i < counters.size(); ++i) Tables.Tables.TcpRows.at(i).Traffic = counters[i];
    }
    TTempFolder Folder;
};

TEST_F(TrafficWindow, ShowTrafficAddsFourColumnsAfterProcessAndIsStoredOnlyOnceSwitchedOn) {
    const std::string options = Folder.Write("Option.ini", "[Option]\r\nRefreshTime=3\r\n");
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    TConnectionGridModel& grid = form.GridModel();
    EXPECT_FALSE(form.actionTraffic->isChecked());
    EXPECT_EQ(grid.columnCount(), 6);

    form.actionTraffic->trigger();
    ASSERT_EQ(grid.columnCount(), 10);
    EXPECT_EQ(grid.headerData(6, Qt::Horizontal, Qt::DisplayRole).toString(), "Sent");
    EXPECT_EQ(grid.headerData(9, Qt::Horizontal, Qt::DisplayRole).toString(), "Receive Rate");
    EXPECT_EQ(grid.data(grid.index(1, 7), Qt::DisplayRole).toString(), "2.0 KB");
    EXPECT_EQ(grid.data(grid.index(2, 6), Qt::DisplayRole).toString(), "-");  // a UDP row
    EXPECT_TRUE(LoadOptionsFile(options).ShowTraffic);
    const std::string page = BuildTableReport(grid.Rows(), {"h", "t"}, grid.ShowTraffic());
    EXPECT_NE(page.find("Receive Rate</th>"), std::string::npos);
    EXPECT_NE(page.find("<td>2.0 KB</td>"), std::string::npos);

    form.actionTraffic->trigger();
    EXPECT_EQ(grid.columnCount(), 6);
    EXPECT_FALSE(LoadOptionsFile(options).ShowTraffic);

    // A file that never had the view on is not touched by switching it off.
    const std::string untouched = "[Option]\r\nTray=0\r\n";
    Folder.Write("Option.ini", untouched);
    SaveShowTrafficOption(options, false);
    EXPECT_EQ(Folder.Read("Option.ini"), untouched);
}

TEST_F(TrafficWindow, RanksTheProgramsAndShadesTheSelectedOnesShareOfTheChart) {
    Processes.Processes.Entries = {{10, "client"}, {20, "server"}};
    Tables.Tables.TcpRows[0].OwningPid = 20;
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    SetCounters({{10, 0, true}, {5000, 90000, true}});
    form.RefreshConnections();
    ASSERT_TRUE(WaitForRefreshes(2));

    form.actionTrafficGraph->trigger();
    TTraffic_F* window = form.Traffic_F;
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->lsvPrograms->rowCount(), 2);
    EXPECT_EQ(window->lsvPrograms->item(0, 0)->text(), "client");  // the busier one first
    EXPECT_EQ(window->lsvPrograms->item(0, 5)->text(), "88 KB");
    EXPECT_EQ(window->lsvPrograms->item(1, 0)->text(), "server");

    window->lsvPrograms->selectRow(1);
    EXPECT_EQ(window->Chart->Highlight(), "server");
    window->resize(600, 480);
    EXPECT_FALSE(window->Chart->grab().isNull());  // paints the lines and the share

    // The next refresh keeps the selection on the program, not on the row.
    SetCounters({{900000, 0, true}, {5000, 90000, true}});
    form.RefreshConnections();
    ASSERT_TRUE(WaitForRefreshes(3));
    ASSERT_EQ(window->lsvPrograms->item(0, 0)->text(), "server");
    EXPECT_TRUE(window->lsvPrograms->item(0, 0)->isSelected());
    EXPECT_EQ(window->Chart->Highlight(), "server");

    // Closed, with the columns off, the counters are still read: shown again,
    // its chart has no gap.
    window->close();
    EXPECT_TRUE(form.View().ReadTraffic);
}

}  // namespace
}  // namespace tarnwick::testing

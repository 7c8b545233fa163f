// Locations in the window: "Show Location" with its Country and Network
// columns, the remote address's tooltip and its stored switch, and the
// status line's note of a database that cannot be read.
#include <QAction>
#include <QStatusBar>
#include <QTest>

#include "common/temp_folder.h"
#include "monitor/grid_columns.h"
#include "monitor/location_texts.h"
#include "rules/options_file.h"
#include "ui/connection_grid.h"
#include "ui/grid_filter_box.h"
#include "ui/main_form_fixture.h"

namespace tarnwick::testing {
namespace {

class LocationWindow : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        ExecutableDir = Folder.Path();
        Tables.Tables.TcpRows.at(1).RemoteAddr = Ipv4(2, 160, 0, 1);
        Database.Set(Ipv4(2, 160, 0, 1), {"DE", "Germany", 3320, "Deutsche Telekom AG"});
    }
    TMain_F& CreateWithLocations() {
        TMainServices services = Services();
        services.OpenLocationDatabase = Database.Opener();
        Form = std::make_unique<TMain_F>(std::move(services));
        return *Form;
    }
    // Switches "Show Location" and waits for the refresh it starts.
    void TriggerLocation() {
        const int done = Form->CompletedRefreshes();
        Form->actionLocation->trigger();
        ASSERT_TRUE(WaitForRefreshes(done + 1));
    }
    QString Cell(int row, int column, int role = Qt::DisplayRole) {
        TConnectionGridModel& grid = Form->GridModel();
        return grid.data(grid.index(row, column), role).toString();
    }

    TTempFolder Folder;
    TFakeLocationDatabase Database;
};

TEST_F(LocationWindow, ShowLocationAddsCountryAndNetworkAfterProcessAndIsStoredOnlyOnceSwitchedOn) {
    const std::string options = Folder.Write("Option.ini", "[Option]\r\nRefreshTime=3\r\n");
    TMain_F& form = CreateWithLocations();
    ASSERT_TRUE(WaitForRefreshes(1));
    TConnectionGridModel& grid = form.GridModel();
    EXPECT_FALSE(form.actionLocation->isChecked());
    EXPECT_EQ(Database.Opens(), 0);

    TriggerLocation();
    ASSERT_EQ(grid.columnCount(), 8);
    EXPECT_EQ(grid.headerData(6, Qt::Horizontal, Qt::DisplayRole).toString(), "Country");
    EXPECT_EQ(grid.headerData(7, Qt::Horizontal, Qt::DisplayRole).toString(), "Network");
    EXPECT_EQ(Cell(1, 6), "DE");
    EXPECT_EQ(Cell(1, 7), "AS3320 Deutsche Telekom AG");
    EXPECT_EQ(Cell(1, 0, Qt::ToolTipRole), "Germany\nAS3320 Deutsche Telekom AG");
    EXPECT_EQ(Cell(0, 6), "-");  // a listener
    EXPECT_EQ(Cell(2, 7), "-");  // UDP
    EXPECT_TRUE(LoadOptionsFile(options).ShowLocation);

    // The traffic columns come after them.
    form.actionTraffic->trigger();
    ASSERT_EQ(grid.columnCount(), 12);
    EXPECT_EQ(grid.headerData(8, Qt::Horizontal, Qt::DisplayRole).toString(), "Sent");
    EXPECT_EQ(Cell(1, 7), "AS3320 Deutsche Telekom AG");

    TriggerLocation();
    EXPECT_EQ(grid.columnCount(), 10);
    EXPECT_EQ(grid.headerData(6, Qt::Horizontal, Qt::DisplayRole).toString(), "Sent");
    EXPECT_TRUE(Cell(1, 0, Qt::ToolTipRole).isEmpty());
    EXPECT_FALSE(LoadOptionsFile(options).ShowLocation);
    EXPECT_EQ(Folder.Read("Option.ini").find("ShowLocation=1"), std::string::npos);

    // Switched on in the file, it is applied with the other options, and the rows located at once.
    Folder.Write("Option.ini", "[Option]\r\nShowLocation=1\r\n");
    form.LoadOptions();
    EXPECT_TRUE(form.actionLocation->isChecked());
    EXPECT_EQ(grid.columnCount(), 8);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(1, 6) == "DE"; }, 5000));
}

TEST_F(LocationWindow, TheFilterAndTheSortReachTheLocationColumnsAndFollowTheColumnsShown) {
    TMain_F& form = CreateWithLocations();
    ASSERT_TRUE(WaitForRefreshes(1));
    TriggerLocation();
    TConnectionGridModel& grid = form.GridModel();
    QTest::keyClicks(form.edtFilter, "telekom");
    EXPECT_EQ(grid.rowCount(), 1);
    EXPECT_EQ(Cell(0, 6), "DE");
    // The table saved has the columns shown.
    form.AskReportFile = [this](QWidget*, const std::string&) { return std::optional(Folder.Path() + "/t.htm"); };
    ASSERT_TRUE(form.actionSaveExecute());
    EXPECT_NE(Folder.Read("t.htm").find(">Network</th>"), std::string::npos);
    EXPECT_NE(Folder.Read("t.htm").find("<td>DE</td><td>AS3320 Deutsche Telekom AG</td>"), std::string::npos);
    form.edtFilter->clear();

    // Sorted by Network, hiding the location columns ends the sort; sorted
    // by Sent, it keeps it though the Sent column moves.
    form.grdNetStatList->ApplySort(TGridSort{GridColumnOf("Network"), true});
    EXPECT_EQ(Cell(0, 6), "DE");
    TriggerLocation();
    EXPECT_FALSE(grid.View().Sort());
    TriggerLocation();
    form.actionTraffic->trigger();
    form.grdNetStatList->ApplySort(TGridSort{GridColumnOf("Sent"), false});
    TriggerLocation();
    ASSERT_TRUE(grid.View().Sort());
    EXPECT_EQ(grid.View().Sort()->Column, GridColumnOf("Sent"));
    EXPECT_EQ(grid.headerData(6, Qt::Horizontal, Qt::DisplayRole).toString(), "Sent");
    EXPECT_EQ(grid.SectionOfGridColumn(GridColumnOf("Sent")), 6);
}

TEST_F(LocationWindow, TheRefreshCommandOnTheWindowsThreadLeavesANewAddressToTheNextRefresh) {
    TMain_F& form = CreateWithLocations();
    ASSERT_TRUE(WaitForRefreshes(1));
    TriggerLocation();
    Tables.Tables.TcpRows.at(1).RemoteAddr = Ipv4(2, 160, 0, 2);
    Database.Set(Ipv4(2, 160, 0, 2), {"DE", "Germany", 3320, "Deutsche Telekom AG"});
    form.RefreshConnections();
    ASSERT_FALSE(form.RefreshRunning());
    EXPECT_EQ(Cell(1, 6), "-");
    form.Timer1Timer();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(1, 6) == "DE"; }, 5000));
}

TEST_F(LocationWindow, ADatabaseThatCannotBeReadIsANoteInTheStatusLineAndTheCellsReadDash) {
    const TFailure missing{ENOENT, "reading the location database /nowhere"};
    Database.Fail(missing);
    TMain_F& form = CreateWithLocations();
    ASSERT_TRUE(WaitForRefreshes(1));
    TriggerLocation();
    EXPECT_EQ(form.statusBar()->currentMessage().toStdString(), LocationDatabaseNote(missing));
    EXPECT_TRUE(form.statusBar()->isVisibleTo(&form));
    EXPECT_EQ(Cell(1, 6), "-");
    EXPECT_EQ(Cell(1, 7), "-");

    TriggerLocation();
    EXPECT_FALSE(form.statusBar()->isVisibleTo(&form));
}

}  // namespace
}  // namespace tarnwick::testing

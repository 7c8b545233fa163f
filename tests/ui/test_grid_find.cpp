// Finding rows in the main window: the filter box narrows the grid, a click
// on a title sorts it, Ctrl+C copies the selected rows; the filter and sort
// come back in the next run.
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>

#include "common/temp_folder.h"
#include "rules/options_file.h"
#include "ui/connection_grid.h"
#include "ui/grid_filter_box.h"
#include "ui/main_form_fixture.h"

namespace tarnwick::testing {
namespace {

class GridFind : public MainFormFixture {
protected:
    void SetUp() override {
        MainFormFixture::SetUp();
        ExecutableDir = Folder.Path();
        Processes.Processes.Entries.push_back({11, "back\\slash"});
        // Ports without short names, so that the grid shows their numbers.
        Tables.Tables.TcpRows[1].RemotePort = 4443;
        Tables.Tables.TcpRows.push_back(
            TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40001, Ipv4(10, 0, 0, 9), 2222, 11));
    }
    TMain_F& Shown() {
        TMain_F& form = Create();
        form.show();
        form.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
        EXPECT_TRUE(WaitForRefreshes(1));
        return form;
    }
    // The local port cells of the rows the grid shows, in order.
    QStringList LocalPorts() {
        QStringList ports;
        const TConnectionGridModel& grid = Form->GridModel();
        for (int row = 0; row < grid.rowCount(); ++row) ports << grid.data(grid.index(row, 2), Qt::DisplayRole).toString();
        return ports;
    }
    void ClickTitle(int column) {
        QHeaderView* header = Form->grdNetStatList->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(column) + 5, 5));
    }
    TTempFolder Folder;
};

TEST_F(GridFind, TypingNarrowsTheGridATitleClickSortsItAndCtrlCCopiesTheSelectedRows) {
    TMain_F& form = Shown();
    ASSERT_EQ(LocalPorts(), (QStringList{"8080", "40000", "40001", "6000", "6001", "6002"}));

    QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(QApplication::focusWidget(), form.edtFilter);
    QTest::keyClicks(form.edtFilter, "tcp 4000");  // port 40000 and port 40001
    EXPECT_EQ(LocalPorts(), (QStringList{"40000", "40001"}));
    ClickTitle(1);  // Remote Port, up: 2222 before 4443
    EXPECT_EQ(LocalPorts(), (QStringList{"40001", "40000"}));
    ClickTitle(1);  // down
    EXPECT_EQ(LocalPorts(), (QStringList{"40000", "40001"}));

    // Both selected; a refresh that lists a new row first keeps them and the filter.
    form.grdNetStatList->selectAll();
    Tables.Tables.TcpRows.insert(Tables.Tables.TcpRows.begin(),
                                 TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40002, Ipv4(10, 0, 0, 7), 3000, 10));
    form.RefreshConnections();
    ASSERT_TRUE(WaitForRefreshes(2));
    EXPECT_EQ(LocalPorts(), (QStringList{"40000", "40002", "40001"}));
    form.grdNetStatList->setFocus();
    QTest::keyClick(form.grdNetStatList, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              "Remote Addr\tRemote Port\tLocal Port\tProtocol\tStatus\tProcess\n"
              "10.0.0.5\t4443\t40000\tTCP\tEstablished\tclient\n"
              "10.0.0.9\t2222\t40001\tTCP\tEstablished\tback\\x5Cslash\n");

    form.edtFilter->setFocus();
    QTest::keyClick(form.edtFilter, Qt::Key_Escape);
    EXPECT_TRUE(form.edtFilter->text().isEmpty());
    EXPECT_EQ(LocalPorts().size(), 7);
}

TEST_F(GridFind, TheFilterAndSortAreKeptForTheNextRun) {
    Shown();
    QTest::keyClicks(Form->edtFilter, "client");
    ClickTitle(2);
    Form->edtFilter->SettleNow();
    EXPECT_EQ(LoadOptionsFile(OptionsFilePath(Folder.Path())).GridView, (TGridViewOptions{"client", "Local Port", false}));

    Boxes.Answers = {true};
    Form->close();
    TMain_F& again = Shown();
    EXPECT_EQ(again.edtFilter->text(), "client");
    EXPECT_EQ(LocalPorts(), (QStringList{"6000", "6001", "6002", "8080", "40000"}));
    EXPECT_TRUE(Boxes.Shown.empty());
}

}  // namespace
}  // namespace tarnwick::testing

// The main window: grid placement under the view commands, the selected row,
// column widths, the close question and the log's commands.
#include "ui/main_form_fixture.h"

#include <QAction>
#include <QSplitter>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include "ui/connection_grid.h"
#include "ui/log_list.h"

namespace tarnwick::testing {
namespace {

using MainForm = MainFormFixture;

TEST_F(MainForm, FirstRefreshRunsAtCreationWithAllViewsOn) {
    TMain_F& form = Create();
    EXPECT_EQ(form.windowTitle(), "Tarnwick");
    EXPECT_EQ(form.size(), QSize(855, 604));
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 3000);
    for (QAction* view : {form.actionUDP, form.actionTCP, form.actionShotname, form.actionLog})
        EXPECT_TRUE(view->isChecked());
    ASSERT_TRUE(WaitForRefreshes(1));
    ASSERT_EQ(form.GridModel().GridRowCount(), 6);
    EXPECT_EQ(GridRow(0).RemoteAddr, "Remote Addr");
    EXPECT_EQ(GridRow(1), (TConnectionRow{"pc1", "0", "8080", "TCP", "Listening", "client",
                                          TConnectionKey{true, TInetAddress(), 8080, TInetAddress(), 0},
                                          std::nullopt, TTcpState::Listening}));
    EXPECT_EQ(GridRow(2).Status, "Established");
    EXPECT_EQ(GridRow(3).LocalPort, "6000");
    EXPECT_EQ(form.GridModel().rowCount(), 5);
    EXPECT_EQ(form.GridModel().data(form.GridModel().index(1, 5), Qt::DisplayRole).toString(), "client");
}

TEST_F(MainForm, ViewCommandsRebuildTheGridAtOnce) {
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    form.actionTCP->trigger();  // off: UDP rows move up under the header
    ASSERT_TRUE(WaitForRefreshes(2));
    EXPECT_EQ(form.GridModel().GridRowCount(), 4);
    EXPECT_EQ(GridRow(1).LocalPort, "6000");

    form.grdNetStatList->selectRow(1);  // grid row 2
    EXPECT_EQ(form.SelectedRow()->Key, (TConnectionKey{false, TInetAddress(), 6001, TInetAddress(), 0}));

    form.actionUDP->trigger();  // both off: header and one empty row
    ASSERT_TRUE(WaitForRefreshes(3));
    EXPECT_EQ(form.GridModel().GridRowCount(), 2);
    EXPECT_EQ(GridRow(1), TConnectionRow{});
    form.grdNetStatList->selectRow(0);
    EXPECT_EQ(form.SelectedRow()->Key, std::nullopt);

    Tables.Tables.TcpRows[1].RemotePort = 80;
    form.actionTCP->trigger();
    form.actionUDP->trigger();
    form.actionShotname->trigger();  // ports by number
    // The first toggle started a refresh; the other two became one refresh after it.
    ASSERT_TRUE(WaitForRefreshes(5));
    QTest::qWait(20);
    EXPECT_EQ(form.CompletedRefreshes(), 5);
    EXPECT_EQ(GridRow(2).RemotePort, "80");
    EXPECT_EQ(form.GridModel().GridRowCount(), 6);
    form.grdNetStatList->selectRow(1);
    EXPECT_EQ(form.SelectedRow()->Key,
              (TConnectionKey{true, Ipv4(192, 168, 1, 2), 40000, Ipv4(10, 0, 0, 5), 80}));
}

TEST_F(MainForm, TheSelectionStaysOnItsConnectionWhenARefreshMovesIt) {
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    const auto refresh = [&] {
        const int done = form.CompletedRefreshes();
        form.RefreshConnections();
        return WaitForRefreshes(done + 1);
    };
    form.grdNetStatList->selectRow(1);  // grid row 2: the established connection
    const std::optional<TConnectionKey> established = form.SelectedRow()->Key;

    // A connection listed before it: its row moves down one.
    Tables.Tables.TcpRows.insert(Tables.Tables.TcpRows.begin(), TcpRow(TTcpState::Listening, {}, 7070, {}, 0, 10));
    ASSERT_TRUE(refresh());
    EXPECT_EQ(form.grdNetStatList->SelectedGridRow(), 3);
    EXPECT_EQ(form.SelectedRow()->Key, established);

    // Its row is taken away as the grid shrinks, and the view moves the
    // selection to a neighbour: it comes back to its connection.
    form.grdNetStatList->selectRow(4);  // grid row 5, UDP port 6001
    const std::optional<TConnectionKey> port = form.SelectedRow()->Key;
    Tables.Tables.TcpRows.erase(Tables.Tables.TcpRows.begin());
    Tables.Tables.UdpRows.erase(Tables.Tables.UdpRows.begin());
    ASSERT_TRUE(refresh());
    EXPECT_EQ(form.grdNetStatList->SelectedGridRow(), 3);
    EXPECT_EQ(form.SelectedRow()->Key, port);
}

TEST_F(MainForm, AHelperThatFailedIsSaidOnceWhateverTheRefreshes) {
    TMainServices services = Services();
    services.OwnersHealth = [] { return TStatus(TFailure{EPIPE, "tarnwick-helper (x) was stopped"}); };
    Form = std::make_unique<TMain_F>(std::move(services));
    ASSERT_TRUE(WaitForRefreshes(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Boxes.Shown.empty(); }, 5000));
    Form->RefreshConnections();
    ASSERT_TRUE(WaitForRefreshes(2));
    QCoreApplication::processEvents();
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_TRUE(Boxes.Shown[0].startsWith(QStringLiteral("tarnwick-helper (x) was stopped: Broken pipe\n")));
}

TEST_F(MainForm, ColumnsShareTheWidthEqually) {
    TMain_F& form = Create();
    EXPECT_EQ(form.grdNetStatList->DefaultColWidth(), 137);  // (855 - 30) div 6 at creation
    form.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.Panel1->width(), 822);
    EXPECT_EQ(form.grdNetStatList->DefaultColWidth(), 133);  // (822 - 23) div 6
    form.resize(955, 604);
    QCoreApplication::processEvents();
    EXPECT_EQ(form.grdNetStatList->DefaultColWidth(), (922 - 23) / 6);
    EXPECT_EQ(form.grdNetStatList->horizontalHeader()->sectionSize(5), (922 - 23) / 6);
}

TEST_F(MainForm, AnsweringNoToTheCloseQuestionChangesNothing) {
    TMain_F& form = Create();
    form.show();
    Boxes.Answers = {false};
    form.actionExit->trigger();
    ASSERT_EQ(Boxes.Asked.size(), 1u);
    EXPECT_EQ(Boxes.Asked[0], "Are you sure Exit?");
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.Timer1->isActive());
    ASSERT_TRUE(WaitForRefreshes(1));
    form.RefreshConnections();
    EXPECT_EQ(form.CompletedRefreshes(), 2);

    Boxes.Answers = {true};
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer1->isActive());
    form.RefreshConnections();  // nothing runs after the window is gone
    EXPECT_EQ(form.CompletedRefreshes(), 2);
}

TEST_F(MainForm, LogShowsNewestSelectedAndHidesWithoutStopping) {
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    QTest::qWait(10);
    ASSERT_EQ(form.Log().Count(), 1u);  // the established connection
    EXPECT_EQ(form.Log().Entry(0).Kind, lkConnect);
    EXPECT_EQ(form.lstLog->model()->rowCount(), 1);
    form.AddLog("second", lkInfo);
    form.AddLog("third", lkRule);
    QTest::qWait(10);
    EXPECT_EQ(form.lstLog->currentIndex().row(), 2);

    form.show();
    form.actionLog->trigger();
    EXPECT_FALSE(form.lstLog->isVisible());
    form.AddLog("while hidden", lkInfo);
    EXPECT_EQ(form.Log().Count(), 4u);
    form.actionLog->trigger();
    EXPECT_TRUE(form.lstLog->isVisible());
}

TEST_F(MainForm, ClearingAsksAndEmptiesTheLogWhateverTheAnswer) {
    TMain_F& form = Create();
    form.AskReportFile = [](QWidget*, const std::string&) { return std::optional<std::string>(); };  // cancelled
    for (bool answer : {false, true}) {
        form.AddLog("entry", lkInfo);
        Boxes.Answers = {answer};
        form.actionClearLog->trigger();
        EXPECT_EQ(Boxes.Asked.back(), "Do you want to Save the log before clear Log?");
        EXPECT_EQ(form.Log().Count(), 0u);
        EXPECT_EQ(form.lstLog->model()->rowCount(), 0);
    }
}

TEST_F(MainForm, AnAutomaticSaveThatKeepsFailingIsReportedOnceAfterTheLineAndLosesNothing) {
    TMain_F& form = Create();  // its folder does not exist: every save fails
    ASSERT_TRUE(WaitForRefreshes(1));
    const size_t before = form.Log().Count();
    for (size_t i = 0; i < TEventLog::AutoSaveLimit + 50; ++i) form.AddLog("entry", lkInfo);
    EXPECT_TRUE(Boxes.Shown.empty());  // never inside the call that logged: posted to run after it
    QTest::qWait(20);
    EXPECT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_EQ(form.Log().Count(), before + TEventLog::AutoSaveLimit + 50);
}

TEST_F(MainForm, UnreadableTablesEndTheProgramBeforeAnyRefresh) {
    Form = std::make_unique<TMain_F>(Services([] { return TStatus(TFailure{EPROTONOSUPPORT, "opening a socket diagnostics netlink socket"}); }));
    EXPECT_FALSE(Form->TablesBound());
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    // What was tried, and the system's words for why it failed.
    EXPECT_TRUE(Boxes.Shown[0].contains("opening a socket diagnostics netlink socket"));
    EXPECT_TRUE(Boxes.Shown[0].endsWith(QString::fromLocal8Bit(std::strerror(EPROTONOSUPPORT))));
    QTest::qWait(20);
    EXPECT_EQ(Tables.Fetches, 0);
    EXPECT_FALSE(Form->Timer1->isActive());
}

}  // namespace
}  // namespace tarnwick::testing

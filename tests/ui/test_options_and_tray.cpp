// Options applied to the main window, the one start in the tray, the tray's
// way back, and the About alert.
#include "ui/main_form_fixture.h"

#include <QAction>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

#include <fstream>

#include "common/temp_folder.h"
#include "ui/msn_popup.h"

namespace tarnwick::testing {
namespace {

class OptionsAndTray : public MainFormFixture {
protected:
    TTempFolder Folder;
    void SetUp() override {
        MainFormFixture::SetUp();
        ExecutableDir = Folder.Path();
    }
    void WriteOptions(const std::string& keys) { std::ofstream(ExecutableDir + "/Option.ini") << "[Option]\n" << keys; }
    TMain_F& CreateWithTray(bool trayAvailable) {
        TMain_F& form = Create();
        form.TrayAvailable = [trayAvailable] { return trayAvailable; };
        return form;
    }
};

TEST_F(OptionsAndTray, RefreshTimerFollowsTheOptionsAndNeverStorms) {
    TMain_F& form = Create();
    form.show();
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 3000);
    EXPECT_TRUE(form.Log().AutoSaveLog);

    WriteOptions("RefreshTime=10\nAutoSaveLog=0\n");
    form.LoadOptions();
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 10000);
    EXPECT_FALSE(form.Log().AutoSaveLog);

    for (const char* keys : {"AutoRefresh=0\n", "RefreshTime=0\n", "RefreshTime=-5\n"}) {
        WriteOptions(keys);
        form.LoadOptions();
        EXPECT_FALSE(form.Timer1->isActive()) << keys;
    }
    // The refresh command still works without the periodic refresh.
    ASSERT_TRUE(WaitForRefreshes(1));
    form.RefreshConnections();
    EXPECT_EQ(form.CompletedRefreshes(), 2);
}

TEST_F(OptionsAndTray, StartInTrayHidesOnceAndTheWindowComesBack) {
    WriteOptions("Tray=1\n");
    TMain_F& form = CreateWithTray(true);
    form.show();
    EXPECT_TRUE(form.Timer2->isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.TrayDone; }, 2000));
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer2->isActive());

    form.RefreshConnectionList1->trigger();  // the tray menu's Restore
    EXPECT_TRUE(form.isVisible());
    QTest::qWait(400);
    EXPECT_TRUE(form.isVisible());  // shown again, it stays
    form.LoadOptions();             // as after a confirmed Options dialog
    EXPECT_FALSE(form.Timer2->isActive());
}

TEST_F(OptionsAndTray, TheTrayIconRestoresOnTheActivationItsTrayDelivers) {
    TMain_F& form = CreateWithTray(true);
    form.show();
    for (bool statusNotifier : {false, true}) {
        form.TrayIsStatusNotifier = [statusNotifier] { return statusNotifier; };
        form.actionTray->trigger();
        emit form.TrayIcon->activated(QSystemTrayIcon::Trigger);  // a D-Bus tray's only activation
        EXPECT_EQ(form.isVisible(), statusNotifier);
        emit form.TrayIcon->activated(QSystemTrayIcon::DoubleClick);
        EXPECT_TRUE(form.isVisible());
    }
}

TEST_F(OptionsAndTray, WithoutATrayTheWindowIsMinimisedNotHidden) {
    TMain_F& form = CreateWithTray(false);
    form.show();
    form.actionTray->trigger();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.isMinimized() || form.windowState() & Qt::WindowMinimized);
}

TEST_F(OptionsAndTray, ExitWhileHiddenAsksAndNoKeepsTheProgram) {
    TMain_F& form = CreateWithTray(true);
    form.show();
    form.actionTray->trigger();
    EXPECT_FALSE(form.isVisible());
    Boxes.Answers = {false};
    form.actionExit->trigger();
    EXPECT_EQ(Boxes.Asked.back(), "Are you sure Exit?");
    EXPECT_TRUE(form.Timer1->isActive());
    ASSERT_TRUE(WaitForRefreshes(1));  // still monitoring while hidden
}

TEST_F(OptionsAndTray, OptionsOkAppliesTheOptionsAndCancelUndoesRuleChanges) {
    std::ofstream(ExecutableDir + "/rules.dat") << "[ALL]\nCount=1\n[Item1]\nRulesName=kept\n";
    TMain_F& form = Create();
    ASSERT_EQ(form.Session().Rules.Count(), 1);

    // Cancel: a rule added in the dialog is gone again, the options untouched.
    form.RunOptionsDialog = [&](TOption_F&) {
        form.Session().Rules.Add().RulesName = "added";
        WriteOptions("RefreshTime=7\n");  // written by someone else meanwhile: not applied on Cancel
        return false;
    };
    form.ActionOptionsExecute();
    ASSERT_EQ(form.Session().Rules.Count(), 1);
    EXPECT_EQ(form.Session().Rules.Items(0).RulesName, "kept");
    EXPECT_EQ(form.Timer1->interval(), 3000);

    // OK: the options are applied at once.
    form.RunOptionsDialog = [](TOption_F&) { return true; };
    form.ActionOptionsExecute();
    EXPECT_EQ(form.Timer1->interval(), 7000);
}

TEST_F(OptionsAndTray, AboutSlidesInAnAlert) {
    TMain_F& form = Create();
    form.show();
    QMouseEvent click(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(form.Label2, &click);
    ASSERT_EQ(form.Popup->OpenWindows().size(), 1u);
    EXPECT_EQ(form.Popup->Header, "Tarnwick 1.01");
    EXPECT_EQ(form.Popup->Text, std::string("Tarnwick 1.01  ") + TMain_F::kCreditLine);
    EXPECT_EQ(form.Label1->text(), "Help");
    EXPECT_EQ(form.Label2->text(), "About");
}

}  // namespace
}  // namespace tarnwick::testing

// Rules and closing connections from the main window: the global switch,
// a rule's actions on a new connection, the kill command and its menu.
#include "ui/main_form_fixture.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "common/temp_folder.h"
#include "ui/connection_grid.h"
#include "ui/capture_data_form.h"
#include "ui/process_info_form.h"
#include "ui/msn_popup.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>

#include "ui/ip_address_edit.h"
#include "monitor/selected_connection.h"

namespace tarnwick::testing {
namespace {

class RulesAndKill : public MainFormFixture {
protected:
    TTempFolder Folder;
    void SetUp() override {
        MainFormFixture::SetUp();
        ExecutableDir = Folder.Path();
    }
    // A rules file beside the "executable" with one rule on remote port 22.
    void WriteRules(const std::string& actions) {
        std::ofstream(ExecutableDir + "/Rules.dat") << "[ALL]\nCount=1\n[Item1]\nRulesName=ssh\nEnabledRules=1\n"
                                                       "EnRemotePortFilter=1\nRemotePortFilter=22\nPopupMsg=watch it\n"
                                                    << actions;
    }
    void NewSshConnection() {
        Tables.Tables.TcpRows.push_back(TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40100, Ipv4(10, 0, 0, 9), 22, 10));
    }
    std::vector<std::string> RuleLines() {
        std::vector<std::string> lines;
        for (const TLogEntry& entry : Form->Log().Entries())
            if (entry.Kind == lkRule) lines.push_back(entry.Line.substr(entry.Line.find("    ") + 4));
        return lines;
    }
};

TEST_F(RulesAndKill, RulesLoadAtStartButFireOnlyWhenSwitchedOn) {
    WriteRules("EnPopupAction=1\n");
    TMain_F& form = Create();
    ASSERT_EQ(form.Session().Rules.Count(), 1);
    EXPECT_FALSE(form.actionRules->isChecked());
    ASSERT_TRUE(WaitForRefreshes(1));
    NewSshConnection();
    form.RefreshConnections();
    EXPECT_TRUE(RuleLines().empty());

    form.actionRules->trigger();
    Tables.Tables.TcpRows.back().LocalPort = 40101;  // another new connection
    form.RefreshConnections();
    EXPECT_EQ(RuleLines(), std::vector<std::string>{"Enabled Rules:ssh,Popup Messages:watch it"});
    EXPECT_EQ(form.Popup->OpenWindows().size(), 1u);
}

TEST_F(RulesAndKill, AnUnreadableRulesFileIsReportedAndTheProgramRuns) {
    std::filesystem::create_directory(ExecutableDir + "/rules.dat");  // there, but no file to read
    TMain_F& form = Create();
    EXPECT_EQ(form.Session().Rules.Count(), 0);
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_TRUE(Boxes.Shown[0].contains("rules.dat"));
    EXPECT_TRUE(WaitForRefreshes(1));
}

TEST_F(RulesAndKill, AKillActionClosesTheConnectionThatRaisedItThenRefreshesAfter) {
    WriteRules("EnKillAction=1\nEnRunAction=1\nRunAction=/bin/sh\nEnWavAction=1\nWavAction=/no/such.wav\n");
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    form.Timer1->stop();  // no periodic refresh may run beside the ones counted here
    form.actionRules->setChecked(true);
    NewSshConnection();
    const int fetches = Tables.Fetches;
    int fetchesAtKill = -1;
    Killer.OnKill = [&] { fetchesAtKill = Tables.Fetches; };
    form.RefreshConnections();
    ASSERT_EQ(Killer.Killed.size(), 1u);
    EXPECT_EQ(Killer.Killed[0].RemotePort, 22);
    EXPECT_EQ(Killer.Killed[0].LocalPort, 40100);
    EXPECT_EQ(Launcher.Launched, std::vector<std::string>{"/bin/sh"});
    EXPECT_TRUE(Sound.Played.empty());  // no such file: no sound, no line
    EXPECT_EQ(RuleLines(), (std::vector<std::string>{"Enabled Rules:ssh,Run the Program files:/bin/sh",
                                                     "Enabled Rules:ssh,Kill the Connection!"}));
    // The kill's refresh runs after the one that reported the connection, on
    // a worker that may have started by now.
    EXPECT_EQ(fetchesAtKill, fetches + 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Tables.Fetches == fetches + 2; }, 5000));
}

TEST_F(RulesAndKill, ARefusedRuleKillIsLoggedWithTheSystemsReason) {
    WriteRules("EnKillAction=1\n");
    Killer.Refusal = TFailure{EPERM, ""};
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    form.Timer1->stop();  // no periodic refresh may run beside the ones counted here
    form.actionRules->setChecked(true);
    NewSshConnection();
    form.RefreshConnections();
    bool refusalLogged = false;
    for (const TLogEntry& entry : form.Log().Entries())
        refusalLogged = refusalLogged || (entry.Kind == lkInfo && entry.Line.ends_with(": Operation not permitted"));
    EXPECT_TRUE(refusalLogged);
    EXPECT_EQ(RuleLines(), std::vector<std::string>{"Enabled Rules:ssh,Kill the Connection!"});
    EXPECT_TRUE(Boxes.Shown.empty());  // rule actions never show messages
}

TEST_F(RulesAndKill, AConnectionThatEndedUnlistedIsLoggedAndItsKillActionTouchesNothing) {
    WriteRules("EnKillAction=1\nEnPopupAction=1\n");
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    form.Timer1->stop();  // the ended connection is handed to the refresh below
    form.actionRules->setChecked(true);
    NewSshConnection();  // a live connection the kill must leave alone
    Ended.Next.Connections = {{TcpRow(TTcpState::Closed, Ipv4(192, 168, 1, 2), 40200, Ipv4(10, 0, 0, 7), 22), {}, true}};
    form.RefreshConnections();
    std::vector<std::string> texts;
    for (const TLogEntry& entry : form.Log().Entries()) texts.emplace_back(entry.Text());
    EXPECT_EQ(texts, (std::vector<std::string>{"client Connected to 10.0.0.5 On Port:443",  // the first refresh
                                               "? Connected to 10.0.0.7 On Port:22",
                                               "Enabled Rules:ssh,Kill the Connection! It had already closed.",
                                               "Enabled Rules:ssh,Popup Messages:watch it",
                                               "DisConnected to 10.0.0.7 On Port:22",
                                               "client Connected to 10.0.0.9 On Port:22",
                                               "Enabled Rules:ssh,Kill the Connection!",
                                               "Enabled Rules:ssh,Popup Messages:watch it"}));
    // Only the live connection's own rule check closed it.
    ASSERT_EQ(Killer.Killed.size(), 1u);
    EXPECT_EQ(Killer.Killed[0].LocalPort, 40100);
}

TEST_F(RulesAndKill, KillCommandChecksTheSelectedRow) {
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));  // rows: listener, established, three UDP
    form.Timer1->stop();               // only the kill's own refresh may fetch below
    const auto kill = [&](int modelRow) {
        form.grdNetStatList->selectRow(modelRow);
        Boxes.Shown.clear();
        form.actionKill->trigger();
        return Boxes.Shown.empty() ? QString() : Boxes.Shown.back();
    };
    EXPECT_EQ(kill(2), "UDP protocol is connection-less");
    EXPECT_EQ(kill(0), "I can only close Established connections!");
    EXPECT_TRUE(Killer.Killed.empty());
    const int fetches = Tables.Fetches;
    EXPECT_EQ(kill(1), "");
    ASSERT_EQ(Killer.Killed.size(), 1u);
    EXPECT_EQ(Tables.Fetches, fetches + 1);  // refreshed at once

    // The system's errno and what it means here reach the words shown.
    Killer.Refusal = TFailure{EPERM, "closing connections needs the CAP_NET_ADMIN capability"};
    EXPECT_EQ(kill(1), "The connection could not be closed: Operation not permitted (closing connections needs the "
                       "CAP_NET_ADMIN capability)");

    form.actionTCP->trigger();  // TCP rows hidden: nothing can be closed
    ASSERT_TRUE(WaitForRefreshes(form.CompletedRefreshes() + 1));
    EXPECT_EQ(kill(0), "UDP protocol is connection-less");
}

TEST_F(RulesAndKill, CommandsActOnTheConnectionTheRowShowsWhileARefreshIsUnderWay) {
    ExePaths = {{10, "/usr/bin/client"}, {20, "/usr/bin/other"}};
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));  // rows: listener, established, three UDP
    form.Timer1->stop();
    form.grdNetStatList->selectRow(1);  // the established connection from port 40000
    // A connection that sorts first appears; the refresh that fetched it is
    // held in its name lookups, so the grid still shows the old rows.
    Tables.Tables.TcpRows.insert(Tables.Tables.TcpRows.begin(),
                                 TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 1000, Ipv4(10, 0, 0, 9), 22, 20));
    Names.Hold();
    form.Timer1Timer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Names.Holding(); }, 5000));
    ASSERT_EQ(form.Snapshot().TcpRowCount(), 3u);

    form.actionKill->trigger();
    ASSERT_EQ(Killer.Killed.size(), 1u);
    EXPECT_EQ(Killer.Killed[0].LocalPort, 40000);
    form.ActionProcessInfo->trigger();
    EXPECT_EQ(AskedPids, std::vector<uint32_t>{10});
    form.ProcessInfo_F->close();
    form.actionCapture->trigger();
    TCaptureData_F* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* capture = qobject_cast<TCaptureData_F*>(widget); capture && !capture->isHidden()) window = capture;
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->edtPort2->text(), "40000");
    window->close();
    Names.Release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.RefreshRunning(); }, 5000));

    // The connection closes; until the grid hears of it, its row says so and nothing is touched.
    form.grdNetStatList->selectRow(2);  // grid row 3: the connection from port 40000
    ASSERT_EQ(GridRow(3).LocalPort, "40000");
    Tables.Tables.TcpRows.pop_back();
    Names.Hold();
    const int refreshes = form.CompletedRefreshes();
    form.Timer1Timer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Names.Holding(); }, 5000));
    Boxes.Shown.clear();
    AskedPids.clear();
    for (QAction* command : {form.actionKill, form.ActionProcessInfo, form.actionCapture}) command->trigger();
    EXPECT_EQ(Boxes.Shown, std::vector<QString>(3, QString::fromLatin1(kConnectionGone)));
    EXPECT_EQ(Killer.Killed.size(), 1u);
    EXPECT_TRUE(AskedPids.empty());
    Names.Release();
    ASSERT_TRUE(WaitForRefreshes(refreshes + 1));
    QTest::qWait(20);
    EXPECT_EQ(form.CompletedRefreshes(), refreshes + 1);  // no refresh of its own either
}

TEST_F(RulesAndKill, ContextMenuOffersKillOnlyForEstablishedRows) {
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    for (auto [modelRow, enabled] : {std::pair{0, false}, std::pair{1, true}, std::pair{2, false}}) {
        form.grdNetStatList->selectRow(modelRow);
        emit form.pmConnection->aboutToShow();
        EXPECT_EQ(form.KillConnection1->isEnabled(), enabled) << modelRow;
        EXPECT_TRUE(form.actionKill->isEnabled());
    }
}

}  // namespace
}  // namespace tarnwick::testing

namespace tarnwick::testing {
namespace {

// The capture commands of the main window.
using CaptureCommands = MainFormFixture;

TCaptureData_F* OpenCaptureWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<TCaptureData_F*>(widget); window && !window->isHidden()) return window;
    return nullptr;
}

TEST_F(CaptureCommands, CaptureDataFillsTheFilterFromTheSelectedConnection) {
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));  // rows: listener, established, three UDP
    form.grdNetStatList->selectRow(1);
    form.actionCapture->trigger();
    TCaptureData_F* window = OpenCaptureWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->edtAddr1->Text(), "10.0.0.5");
    EXPECT_EQ(window->edtPort1->text(), "443");
    EXPECT_EQ(window->edtAddr2->Text(), "192.168.1.2");
    EXPECT_EQ(window->edtPort2->text(), "40000");
    EXPECT_EQ(window->cbbProtocol->currentText(), "TCP");
    EXPECT_EQ(window->Session().State(), TCaptureState::Capturing);
    window->close();
    QCoreApplication::processEvents();

    // The blank row of an empty grid names no connection: nothing opens.
    form.actionTCP->trigger();
    form.actionUDP->trigger();
    ASSERT_TRUE(WaitForRefreshes(form.CompletedRefreshes() + 1));
    QTest::qWait(50);
    form.grdNetStatList->selectRow(0);
    form.actionCapture->trigger();
    EXPECT_EQ(OpenCaptureWindow(), nullptr);
}

TEST_F(CaptureCommands, CaptureProgramTrafficListsTheRowsProgramAsEachRefreshFindsItsSockets) {
    Tables.Tables.UdpRows.push_back(UdpRow({}, 6003));  // no owner known: no program to capture
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    form.grdNetStatList->selectRow(5);
    emit form.pmConnection->aboutToShow();
    EXPECT_FALSE(form.itemCaptureProgram->isEnabled());
    form.grdNetStatList->selectRow(1);  // "client"'s connection from 192.168.1.2:40000
    emit form.pmConnection->aboutToShow();
    ASSERT_TRUE(form.itemCaptureProgram->isEnabled());
    form.itemCaptureProgram->trigger();
    TCaptureData_F* window = OpenCaptureWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("client")));
    EXPECT_EQ(window->Session().State(), TCaptureState::Capturing);
    // Packets from 10.0.0.5:443 to local port 40001 and then 40000: one of them is the client's.
    const auto deliver = [&](long long listed) {
        for (uint16_t port : {40001, 40000})
            Packets.Latest().Push(MakeIpPacket(6, {10, 0, 0, 5}, {192, 168, 1, 2}, 443, port, {'x'}));
        return QTest::qWaitFor([&] { return window->Session().ListedPackets() == listed; }, 5000);
    };
    ASSERT_TRUE(deliver(1));

    // The client connects again: its packets are listed from the next refresh on.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.RefreshRunning(); }, 5000));
    Tables.Tables.TcpRows.push_back(TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40001, Ipv4(10, 0, 0, 5), 443, 10));
    const int refreshes = form.CompletedRefreshes();
    form.Timer1Timer();
    ASSERT_TRUE(WaitForRefreshes(refreshes + 1));
    ASSERT_TRUE(deliver(3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Packets.Latest().Waiting() == 0; }, 5000));
    window->FlushList();
    EXPECT_EQ(window->Session().ListedPackets(), 3);
    window->close();
}

TEST_F(CaptureCommands, ContextMenuOffersCaptureForEstablishedAndUdpRows) {
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    for (auto [modelRow, enabled] : {std::pair{0, false}, std::pair{1, true}, std::pair{2, true}}) {
        form.grdNetStatList->selectRow(modelRow);
        emit form.pmConnection->aboutToShow();
        EXPECT_EQ(form.itemCapture->isEnabled(), enabled) << modelRow;
    }
    form.actionDataCapture->trigger();
    TCaptureData_F* window = OpenCaptureWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Session().State(), TCaptureState::Idle);
    window->close();
}

}  // namespace
}  // namespace tarnwick::testing

namespace tarnwick::testing {
namespace {

using ProcessInformation = MainFormFixture;

TEST_F(ProcessInformation, ShowsTheSelectedConnectionsProgramOrSaysItCannot) {
    ExePaths[10] = "/usr/bin/client";
    TMain_F& form = Create();
    ASSERT_TRUE(WaitForRefreshes(1));
    EXPECT_TRUE(form.ActionProcessInfo->isEnabled());
    form.grdNetStatList->selectRow(1);
    form.ActionProcessInfo->trigger();
    EXPECT_TRUE(Boxes.Shown.empty());
    EXPECT_TRUE(form.ProcessInfo_F->isVisible());
    EXPECT_FALSE(form.ProcessInfo_F->isModal());

    ExePaths.clear();  // the process has gone
    form.ProcessInfo_F->close();
    form.ActionProcessInfo->trigger();
    ASSERT_EQ(Boxes.Shown.size(), 1u);
    EXPECT_EQ(Boxes.Shown[0], "Can't Found Process EXE File!");
}

}  // namespace
}  // namespace tarnwick::testing

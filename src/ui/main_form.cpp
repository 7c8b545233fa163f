#include "ui/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSocketNotifier>
#include <QSplitter>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>


#include "common/ini_file.h"
#include "common/kept_texts.h"
#include "ui/banner.h"
#include "ui/form_style.h"
#include "ui/connection_grid.h"
#include "ui/connection_grid_model.h"
#include "monitor/tcp_state_names.h"
#include "log/html_report.h"
#include "log/log_auto_save.h"
#include "rules/connection_kill.h"
#include "rules/options_file.h"
#include "rules/platform_rule_actions.h"
#include "rules/rule_check.h"
#include "ui/log_list.h"
#include "monitor/selected_connection.h"
#include "ui/capture_data_form.h"
#include "ui/msn_popup.h"
#include "ui/option_form.h"
#include "ui/process_info_form.h"
#include "ui/rules_edit_form.h"
#include "ui/traffic_form.h"
#include "ui/tray_protocol.h"

namespace tarnwick {

namespace {

constexpr int kFormWidth = 855;
constexpr int kFormHeight = 604;
constexpr int kTopBandHeight = 37;
constexpr int kLogHeight = 123;
constexpr int kSplitterHeight = 2;
constexpr int kPanelInsetLeft = 16;
constexpr int kPanelInsetRight = 17;
constexpr int kRefreshIntervalMs = 3000;
constexpr int kTrayDelayMs = 300;

}  // namespace

// The refresh's results, on the window thread: the grid model, the log and
// the rule check.
class TMain_F::TWindowOutlets final : public TRefreshOutlets {
public:
    explicit TWindowOutlets(TMain_F& form) : Form_(form) {}
    int GridRowCount() override { return Form_.GridModel_->GridRowCount(); }
    void SetGridRowCount(int rows) override { Form_.GridModel_->SetGridRowCount(rows); }
    void WriteGridRow(int row, const TConnectionRow& texts) override { Form_.GridModel_->WriteGridRow(row, texts); }
    void AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) override {
        Form_.Log_.AddLog(text, kind, connection);
    }
    void CheckRules(int row, const TLogConnection& connection) override {
        const TLogConnection& c = connection;
        if (Form_.OnCheckRules) {
            Form_.OnCheckRules(row, c.RemoteAddress, c.LocalPort, c.RemotePort);
        } else {
            Form_.CheckRules(row, c.RemoteAddress, c.LocalPort, c.RemotePort);
        }
    }

private:
    TMain_F& Form_;
};

TMain_F::TMain_F(TMainServices services, QWidget* parent)
    : QMainWindow(parent),
      Services_(std::move(services)) {
    FormCreate();
}

TMain_F::~TMain_F() {
    StopRefreshes();  // no worker outlives the lists it writes to
}

void TMain_F::FormCreate() {
    setObjectName(QStringLiteral("Main_F"));
    setWindowTitle(QStringLiteral("Tarnwick"));
    resize(kFormWidth, kFormHeight);
    CentreOnScreen(*this);
    ApplyFormColour(*this);

    TrayDone = false;
    Connections = std::make_unique<TConnectionitems>();
    Rules = std::make_unique<TRuleItems>();
    LoadRules();
    Popup = new TUMSNPopup(this);

    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(BuildTopBand());

    Panel1 = new QWidget(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    Splitter1 = new QSplitter(Qt::Vertical, Panel1);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(kSplitterHeight);
    Splitter1->setChildrenCollapsible(false);
    GridModel_ = new TConnectionGridModel(this);
    grdNetStatList = new TConnectionGrid(Splitter1);
    grdNetStatList->setModel(GridModel_);
    Splitter1->addWidget(grdNetStatList);
    BuildLog();
    Splitter1->addWidget(lstLog);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({kFormHeight - kTopBandHeight - kLogHeight, kLogHeight});
    panelLayout->addWidget(Splitter1);
    // The panel sits inset in the window's colour, as in a frame: an
    // 855-pixel window has an 822-pixel panel.
    auto* panelFrame = new QHBoxLayout();
    panelFrame->setContentsMargins(kPanelInsetLeft, 2, kPanelInsetRight, kPanelInsetLeft);
    panelFrame->addWidget(Panel1);
    layout->addLayout(panelFrame, 1);
    setCentralWidget(client);
    Panel1->installEventFilter(this);

    BuildMenus();
    grdNetStatList->SetDefaultColWidth((kFormWidth - 30) / GridModel_->columnCount());

    WindowOutlets_ = std::make_unique<TWindowOutlets>(*this);
    Refresh_ = std::make_unique<TRefresh>(Snapshot_, *Connections,
                                          TPlatformServices{Services_.IpTables, Services_.Processes, Services_.Names,
                                                            Services_.EndedConnections},
                                          View_);
    // Workers hand their tasks over through a queue of our own rather than the
    // toolkit's cross-thread events, so the hand-over is ordered by a standard
    // mutex that ThreadSanitizer can check.
    WorkerTasks_ = std::make_unique<TTaskQueue>(Services_.Wakeup);
    auto* wakeups = new QSocketNotifier(static_cast<qintptr>(Services_.Wakeup.Fd()), QSocketNotifier::Read, this);
    connect(wakeups, &QSocketNotifier::activated, this, [this] { WorkerTasks_->RunPending(); });
    Scheduler_ = std::make_unique<TRefreshScheduler>(*Refresh_, *WindowOutlets_, [this](std::function<void()> task) {
        WorkerTasks_->Post(std::move(task));
    });
    Scheduler_->OnFinished = [this] { RefreshEnded(); };
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kRefreshIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &TMain_F::Timer1Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(kTrayDelayMs);
    connect(Timer2, &QTimer::timeout, this, &TMain_F::Timer2Timer);
    BuildTray();

    // The dialogs are made once and reused.
    ProcessInfo_F = new TProcessInfo_F(this);
    RulesEdit_F = new TRulesEdit_F(this);
    Option_F = new TOption_F(this, *Rules, Services_.Files.SettingsDir, Services_.ExecutablePath, Services_.Autostart,
                             Services_.Boxes, *RulesEdit_F);
    RunOptionsDialog = [](TOption_F& dialog) { return dialog.exec() == QDialog::Accepted; };
    AskReportFile = [](QWidget* parent, const std::string& lastName) -> std::optional<std::string> {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(QStringLiteral("HTML Files (*.HTM *.HTML *.htm *.html)"));
        dialog.setDefaultSuffix(QStringLiteral("HTM"));
        if (!lastName.empty()) dialog.selectFile(QString::fromStdString(lastName));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return dialog.selectedFiles().front().toStdString();
    };
    // The long log saves itself into Logs/ of the logs folder; a failure keeps every entry and says why.
    TLogAutoSaveContext autoSave;
    autoSave.BaseDirectory = Services_.Files.LogsBaseDir;
    Log_.AutoSaver = MakeLogAutoSaver(autoSave, [this](const std::string& message) {
        // A log line may come from inside a refresh's hand-over: the box opens after it.
        PostToWindow([this, message] {
            Services_.Boxes.Show(this, QString::fromStdString(message), kApplicationTitle, QMessageBox::Critical);
        });
    });

    // Bind the tables: without socket diagnostics there is nothing to monitor.
    if (Services_.ProbeTables) {
        if (auto reason = Services_.ProbeTables()) {
            Services_.Boxes.Show(nullptr,
                                 QStringLiteral("The connection tables cannot be read (netlink socket diagnostics): ") +
                                     QString::fromStdString(*reason),
                                 QStringLiteral("Fatal error"), QMessageBox::Critical);
            return;
        }
    }
    TablesBound_ = true;
    Timer1->start();
    Timer1Timer();
}

QWidget* TMain_F::BuildTopBand() {
    auto* band = new QWidget(this);
    band->setObjectName(QStringLiteral("TopBand"));
    band->setFixedHeight(kTopBandHeight);
    auto* layout = new QHBoxLayout(band);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(6);
    auto* picture = new QLabel(band);
    picture->setPixmap(BannerPicture(kTopBandHeight - 4));
    layout->addWidget(picture);
    MainMenu = new QMenuBar(band);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    MainMenu->setNativeMenuBar(false);
    MainMenu->setStyleSheet(QStringLiteral(
        "QMenuBar { background: #93B5D0; font-family: 'SimSun', '宋体'; font-size: 12px; }"
        "QMenuBar::item { padding: 3px 8px; background: transparent; }"
        "QMenuBar::item:selected { background: #C4D8E8; }"));
    layout->addWidget(MainMenu, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    // The Help and About links at the right of the band.
    auto makeLink = [band, layout](const char* name, const QString& text) {
        auto* link = new QLabel(text, band);
        link->setObjectName(QString::fromLatin1(name));
        link->setStyleSheet(QStringLiteral("QLabel { color: white; font-family: Arial; font-size: 12px; }"));
        link->setCursor(Qt::PointingHandCursor);
        layout->addWidget(link, 0, Qt::AlignVCenter);
        return link;
    };
    Label1 = makeLink("Label1", QStringLiteral("Help"));
    Label2 = makeLink("Label2", QStringLiteral("About"));
    Label1->installEventFilter(this);
    Label2->installEventFilter(this);
    return band;
}

void TMain_F::BuildMenus() {
    auto makeAction = [this](const char* name, const QString& caption) {
        auto* action = new QAction(caption, this);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    actionRefresh = makeAction("actionRefresh", QStringLiteral("&Refresh Connection List"));
    connect(actionRefresh, &QAction::triggered, this, &TMain_F::RefreshConnections);
    actionClearLog = makeAction("actionClearLog", QStringLiteral("&Clear the Logs"));
    connect(actionClearLog, &QAction::triggered, this, &TMain_F::actionClearLogExecute);
    actionExit = makeAction("actionExit", QStringLiteral("&Exit"));
    connect(actionExit, &QAction::triggered, this, &QWidget::close);

    actionTray = makeAction("actionTray", QString::fromLatin1(kTrayCommand));
    connect(actionTray, &QAction::triggered, this, &TMain_F::actionTrayExecute);
    RefreshConnectionList1 = makeAction("RefreshConnectionList1", QStringLiteral("&Restore"));
    connect(RefreshConnectionList1, &QAction::triggered, this, &TMain_F::RestoreFromTray);

    actionDataCapture = makeAction("actionDataCapture", QStringLiteral("Data &Capture"));
    connect(actionDataCapture, &QAction::triggered, this,
            [this] { TCaptureData_F::OpenEmpty(Services_.PacketSource, Services_.Boxes, this); });
    actionCapture = makeAction("actionCapture", QStringLiteral("C&apture Data"));
    connect(actionCapture, &QAction::triggered, this, &TMain_F::actionCaptureExecute);
    itemCapture = makeAction("itemCapture", QStringLiteral("C&apture Data"));
    connect(itemCapture, &QAction::triggered, this, &TMain_F::actionCaptureExecute);

    ActionProcessInfo = makeAction("ActionProcessInfo", QString::fromLatin1(kProcessInfoCommand));
    connect(ActionProcessInfo, &QAction::triggered, this, &TMain_F::ActionProcessInfoExecute);

    actionSave = makeAction("actionSave", QStringLiteral("&Save Connection Table"));
    connect(actionSave, &QAction::triggered, this, &TMain_F::actionSaveExecute);
    actionSaveLog = makeAction("actionSaveLog", QStringLiteral("Save &Logs To Files"));
    connect(actionSaveLog, &QAction::triggered, this, &TMain_F::actionSaveLogExecute);

    ActionOptions = makeAction("ActionOptions", QStringLiteral("&Options"));
    connect(ActionOptions, &QAction::triggered, this, &TMain_F::ActionOptionsExecute);

    actionRules = makeAction("actionRules", QStringLiteral("Enable &Rules"));
    actionRules->setCheckable(true);
    actionRules->setChecked(false);  // off at every start, never stored
    actionKill = makeAction("actionKill", QStringLiteral("&Kill Connection"));
    connect(actionKill, &QAction::triggered, this, &TMain_F::actionKillExecute);
    KillConnection1 = makeAction("KillConnection1", QStringLiteral("&Kill Connection"));
    connect(KillConnection1, &QAction::triggered, this, &TMain_F::actionKillExecute);

    auto makeView = [&](const char* name, const QString& caption, std::atomic<bool>& setting) {
        QAction* action = makeAction(name, caption);
        action->setCheckable(true);
        action->setChecked(true);
        connect(action, &QAction::toggled, this, [this, &setting](bool checked) {
            setting = checked;
            Timer1Timer();  // the grid is rebuilt at once
        });
        return action;
    };
    actionUDP = makeView("actionUDP", QStringLiteral("Show &UDP Open Port"), View_.ShowUdp);
    actionTCP = makeView("actionTCP", QStringLiteral("Show &TCP Open Port"), View_.ShowTcp);
    actionShotname = makeView("actionShotname", QStringLiteral("Show &Port Shortnames"), View_.ShowShortNames);
    actionIpv6 = makeView("actionIpv6", QStringLiteral("Show IPv&6"), View_.ShowIpv6);
    actionTraffic = makeAction("actionTraffic", QStringLiteral("Show &Traffic"));
    actionTraffic->setCheckable(true);
    actionTraffic->setChecked(false);
    connect(actionTraffic, &QAction::toggled, this, &TMain_F::actionTrafficExecute);
    actionTrafficGraph = makeAction("actionTrafficGraph", QStringLiteral("&Traffic Graph"));
    connect(actionTrafficGraph, &QAction::triggered, this, &TMain_F::actionTrafficGraphExecute);
    actionLog = makeAction("actionLog", QStringLiteral("Show &Logs"));
    actionLog->setCheckable(true);
    actionLog->setChecked(true);
    connect(actionLog, &QAction::toggled, this, &TMain_F::actionLogExecute);

    mnuFile = MainMenu->addMenu(QStringLiteral("&File"));
    mnuFile->addAction(actionRefresh);
    mnuFile->addSeparator();
    mnuFile->addAction(actionSave);
    mnuFile->addAction(actionSaveLog);
    mnuFile->addAction(actionClearLog);
    mnuFile->addAction(actionTray);
    mnuFile->addSeparator();
    mnuFile->addAction(actionExit);

    mnuConnection = MainMenu->addMenu(QStringLiteral("&Connection"));
    mnuConnection->addAction(ActionProcessInfo);
    mnuConnection->addAction(actionCapture);
    mnuConnection->addSeparator();
    mnuConnection->addAction(actionKill);

    mnuView = MainMenu->addMenu(QStringLiteral("&View"));
    mnuView->addAction(actionUDP);
    mnuView->addAction(actionTCP);
    mnuView->addAction(actionIpv6);
    mnuView->addSeparator();
    mnuView->addAction(actionShotname);
    mnuView->addAction(actionTraffic);
    mnuView->addSeparator();
    mnuView->addAction(actionLog);

    mnuTools = MainMenu->addMenu(QStringLiteral("&Tools"));
    mnuTools->addAction(actionDataCapture);
    mnuTools->addAction(actionTrafficGraph);
    mnuTools->addAction(actionRules);
    mnuTools->addSeparator();
    mnuTools->addAction(ActionOptions);

    pmConnection = new QMenu(this);
    pmConnection->setObjectName(QStringLiteral("pmConnection"));
    pmConnection->addAction(ActionProcessInfo);
    pmConnection->addAction(itemCapture);
    pmConnection->addSeparator();
    pmConnection->addAction(KillConnection1);
    pmConnection->addSeparator();
    pmConnection->addAction(actionSave);
    connect(pmConnection, &QMenu::aboutToShow, this, &TMain_F::pmConnectionPopup);
    grdNetStatList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grdNetStatList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmConnection->popup(grdNetStatList->viewport()->mapToGlobal(at)); });

    pmLog = new QMenu(this);
    pmLog->setObjectName(QStringLiteral("pmLog"));
    pmLog->addAction(actionSaveLog);
    pmLog->addAction(actionClearLog);
    lstLog->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lstLog, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmLog->popup(lstLog->viewport()->mapToGlobal(at)); });
}

void TMain_F::BuildTray() {
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    TrayIsStatusNotifier = [] { return StatusNotifierTrayInUse(); };
    pmTray = new QMenu(this);
    pmTray->setObjectName(QStringLiteral("pmTray"));
    pmTray->addAction(RefreshConnectionList1);
    pmTray->addSeparator();
    pmTray->addAction(actionRefresh);
    pmTray->addAction(actionExit);
    TrayIcon = new QSystemTrayIcon(windowIcon().isNull() ? ApplicationIcon() : windowIcon(), this);
    TrayIcon->setObjectName(QStringLiteral("JvTrayIcon1"));
    TrayIcon->setContextMenu(pmTray);
    connect(TrayIcon, &QSystemTrayIcon::activated, this, &TMain_F::TrayIconActivated);
    TrayIcon->show();
}

void TMain_F::actionTrayExecute() {
    // Hiding with no tray to restore from would strand the window: minimise it then.
    if (TrayAvailable && TrayAvailable()) {
        hide();
    } else {
        showMinimized();
    }
}

void TMain_F::RestoreFromTray() {
    showNormal();  // shows a hidden window too, which applies the options again
    raise();
    activateWindow();
}

void TMain_F::TrayIconActivated(QSystemTrayIcon::ActivationReason reason) {
    const bool restore = reason == QSystemTrayIcon::DoubleClick ||
                         (reason == QSystemTrayIcon::Trigger && TrayIsStatusNotifier && TrayIsStatusNotifier());
    if (restore) RestoreFromTray();
}

void TMain_F::Timer2Timer() {
    Timer2->stop();
    TrayDone = true;
    actionTray->trigger();
}

void TMain_F::LoadOptions() {
    const TOptions options = LoadOptionsFile(OptionsFilePath(Services_.Files.SettingsDir));
    const TRefreshTimerSetting timer = RefreshTimerOf(options);
    if (timer.Periodic) Timer1->setInterval(timer.IntervalMs);
    if (timer.Periodic && !Stopped_ && TablesBound_) {
        Timer1->start();
    } else {
        Timer1->stop();
    }
    if (!TrayDone) {
        if (options.Tray) {
            Timer2->start();
        } else {
            Timer2->stop();
        }
    }
    // Applied without saving it back: it came from the file.
    {
        const QSignalBlocker quiet(actionTraffic);
        actionTraffic->setChecked(options.ShowTraffic);
    }
    ShowTrafficColumns(options.ShowTraffic);
    // A changed option gets a failing save reported again.
    if (Log_.AutoSaveLog != options.AutoSaveLog) Log_.ResetAutoSaveErrorReport();
    Log_.AutoSaveLog = options.AutoSaveLog;
}

void TMain_F::LoadRules() {
    // A rules file that is there but cannot be read leaves the list as it was,
    // and the user learns why rather than losing the program.
    try {
        Rules->LoadFromFile(RulesFilePath(Services_.Files.SettingsDir));
    } catch (const std::exception& error) {
        Services_.Boxes.Show(this, QString::fromStdString(FileErrorText(error)), kApplicationTitle,
                             QMessageBox::Warning);
    }
}

void TMain_F::ActionOptionsExecute() {
    if (RunOptionsDialog(*Option_F)) {
        LoadOptions();
    } else {
        // Undo the rule changes made in the dialog (kept when there is no file to come back to).
        LoadRules();
    }
}

void TMain_F::Label1Click() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(HelpPagePath(Services_.ExecutableDir))));
}

void TMain_F::Label2Click() {
    Popup->Header = kApplicationTitle.toStdString();
    Popup->Text = kApplicationTitle.toStdString() + "  " + kCreditLine;
    Popup->ShowPopup();
}

void TMain_F::BuildLog() {
    LogModel_ = new TLogListModel(Log_, this);
    lstLog = new TLogList(LogModel_, Splitter1);
    lstLog->setMinimumHeight(kLogRowHeight);
    Log_.OnAdded = [this](const TLogEntry&) { LogModel_->SyncSoon(); };
    Log_.OnCleared = [this] { LogModel_->Sync(); };
}

void TMain_F::AddLog(const std::string& text, LogKind kind) { Log_.AddLog(text, kind); }

const TConnectionRow* TMain_F::SelectedRow() const {
    const int row = grdNetStatList->SelectedGridRow();
    const TGridRows& rows = GridModel_->Rows();
    return row > 0 && row < rows.RowCount() ? &rows.Row(row) : nullptr;
}

void TMain_F::CheckRules(int rowIndex, const std::string& remoteAddress, int localPort, int remotePort) {
    if (!actionRules->isChecked()) return;
    TPlatformRuleActions actions(
        Snapshot_, TRuleServices{Services_.Launcher, Services_.Sound, Services_.Killer},
        [this](const std::string& text, LogKind kind, const std::optional<TLogConnection>&) { AddLog(text, kind); },
        [this](const std::string& header, const std::string& text) {
            Popup->Header = header;
            Popup->Text = text;
            Popup->ShowPopup();
        },
        // Inside a running refresh this only asks for one after it.
        [this] { RefreshConnections(); });
    tarnwick::CheckRules(*Rules, TRuleConnection{rowIndex, remoteAddress, localPort, remotePort}, actions);
}

void TMain_F::KillConnection(const TConnectionRow* shown) {
    const TKillResult result = KillShownConnection(Snapshot_, shown, Services_.Killer);
    if (result.Outcome != TKillOutcome::Killed) {
        Services_.Boxes.Show(this, QString::fromStdString(result.Message()), kApplicationTitle,
                             result.Outcome == TKillOutcome::Refused ? QMessageBox::Warning
                                                                     : QMessageBox::Information);
    }
    // Closed, or refused by the system: the list shows what became of it.
    if (result.Outcome == TKillOutcome::Killed || result.Outcome == TKillOutcome::Refused) RefreshConnections();
}

void TMain_F::actionKillExecute() { KillConnection(SelectedRow()); }

void TMain_F::pmConnectionPopup() {
    const TRowCommands available = AvailableRowCommands(SelectedRow());
    KillConnection1->setEnabled(available.Kill);
    itemCapture->setEnabled(available.Capture);
}

void TMain_F::ActionProcessInfoExecute() {
    using TProblem = TShownProcessExe::TProblem;
    const TShownProcessExe exe = ShownProcessExe(Snapshot_, SelectedRow(), Services_.ProcessExePath);
    if (exe.Problem == TProblem::Gone) {
        Services_.Boxes.Show(this, QString::fromLatin1(kConnectionGone), kApplicationTitle,
                             QMessageBox::Information);
    } else if (exe.Problem == TProblem::NoExe) {
        Services_.Boxes.Show(this, QString::fromLatin1(kNoProcessExeFile), kApplicationTitle, QMessageBox::Warning);
    } else {
        // The package look-up can take seconds: the window fills in when it returns.
        ProcessInfo_F->ShowForProcess(exe.Path, Services_.ProcessInfoOf);
    }
}

void TMain_F::actionCaptureExecute() {
    // A row that shows no connection (the blank row of an empty grid) starts nothing.
    const TConnectionRow* shown = SelectedRow();
    if (!shown || !shown->Key) return;
    const auto found = FindShownConnection(Snapshot_, shown);
    if (!found) {
        Services_.Boxes.Show(this, QString::fromLatin1(kConnectionGone), kApplicationTitle,
                             QMessageBox::Information);
        return;
    }
    TCaptureData_F::OpenForConnection(Services_.PacketSource, Services_.Boxes, this, CaptureEndpointsOf(*found));
}

void TMain_F::Timer1Timer() {
    if (Stopped_ || !TablesBound_) return;
    Scheduler_->Request();
}

void TMain_F::RefreshConnections() {
    if (Stopped_ || !TablesBound_) return;
    Scheduler_->RunNow();
}

void TMain_F::RefreshEnded() {
    GridModel_->AnnounceWrittenRows();
    UpdateTrafficWindow();
    if (!OwnersFailureShown_ && Services_.OwnersFailure) {
        if (const auto failure = Services_.OwnersFailure()) {
            // The helper is not asked again: the box comes once, after the hand-over.
            OwnersFailureShown_ = true;
            const QString text = QString::fromStdString(*failure) +
                                 QStringLiteral("\n\nOnly your own programs are shown as the owners of connections.");
            PostToWindow([this, text] { Services_.Boxes.Show(this, text, kApplicationTitle, QMessageBox::Warning); });
        }
    }
    emit RefreshFinished();
}

void TMain_F::PostToWindow(std::function<void()> task) {
    QTimer::singleShot(0, this, std::move(task));
}

void TMain_F::StopRefreshes() {
    if (Stopped_) return;
    Stopped_ = true;
    if (Timer1) Timer1->stop();
    if (Timer2) Timer2->stop();
    if (Scheduler_) Scheduler_->Stop();
}

void TMain_F::closeEvent(QCloseEvent* event) {
    if (!Services_.Boxes.Ask(this, QString::fromLatin1(kExitQuestion))) {
        event->ignore();
        return;
    }
    StopRefreshes();
    event->accept();
    // The program ends with its main window, even while alerts are still on screen.
    QCoreApplication::quit();
}

void TMain_F::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) LoadOptions();
}

void TMain_F::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Minimised, only the tray icon stays: the task bar button goes with the window.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayAvailable && TrayAvailable())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) hide();
        });
}

bool TMain_F::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == Label1 || watched == Label2) && event->type() == QEvent::MouseButtonRelease) {
        if (watched == Label1) {
            Label1Click();
        } else {
            Label2Click();
        }
        return true;
    }
    if (watched == Panel1 && event->type() == QEvent::Resize) {
        grdNetStatList->SetDefaultColWidth((Panel1->width() - 23) / GridModel_->columnCount());
        grdNetStatList->viewport()->update();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMain_F::actionClearLogExecute() {
    // Yes offers the save dialog (which may still be cancelled); either way the log is emptied.
    if (Services_.Boxes.Ask(this, QString::fromLatin1(kSaveBeforeClearQuestion))) actionSaveLogExecute();
    Log_.Clear();
}

bool TMain_F::SaveReportPage(const std::function<std::string()>& buildPage) {
    const auto file = AskReportFile(this, LastReportName_);
    if (!file) return false;
    LastReportName_ = *file;
    try {
        SaveReport(*file, buildPage());
        return true;
    } catch (const std::exception& error) {
        Services_.Boxes.Show(this, QString::fromStdString(error.what()), kApplicationTitle, QMessageBox::Critical);
        return false;
    }
}

bool TMain_F::actionSaveExecute() {
    return SaveReportPage([this] {
        return BuildTableReport(GridModel_->Rows(), CurrentReportHeading(), GridModel_->ShowTraffic());
    });
}

bool TMain_F::actionSaveLogExecute() {
    return SaveReportPage([this] { return BuildLogReport(Log_.Entries(), CurrentReportHeading()); });
}

void TMain_F::ShowTrafficColumns(bool show) {
    View_.ShowTraffic = show;
    if (GridModel_->ShowTraffic() == show) return;
    GridModel_->SetShowTraffic(show);
    // Before the window is first laid out the panel has no width yet.
    const int width = Panel1->width() > 23 ? Panel1->width() - 23 : kFormWidth - 30;
    grdNetStatList->SetDefaultColWidth(width / GridModel_->columnCount());
}

void TMain_F::actionTrafficExecute(bool checked) {
    ShowTrafficColumns(checked);
    Timer1Timer();  // the counters are read from this refresh on
    try {
        SaveShowTrafficOption(OptionsFilePath(Services_.Files.SettingsDir), checked);
    } catch (const std::exception& error) {
        Services_.Boxes.Show(this, QString::fromStdString(FileErrorText(error)), kApplicationTitle,
                             QMessageBox::Warning);
    }
}

void TMain_F::actionTrafficGraphExecute() {
    if (!Traffic_F) Traffic_F = new TTraffic_F(this);
    Traffic_F->ShowTraffic(Refresh_->Traffic.Latest(), Refresh_->Traffic.History());
    Traffic_F->show();
    Traffic_F->raise();
    Traffic_F->activateWindow();
}

void TMain_F::UpdateTrafficWindow() {
    if (Traffic_F && Traffic_F->isVisible()) Traffic_F->ShowTraffic(Refresh_->Traffic.Latest(), Refresh_->Traffic.History());
}

void TMain_F::actionLogExecute(bool checked) {
    lstLog->setVisible(checked);  // the splitter's handle goes with it
}

}  // namespace tarnwick

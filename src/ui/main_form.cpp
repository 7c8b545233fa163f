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
#include <QSocketNotifier>
#include <QSplitter>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "common/ini_file.h"
#include "common/kept_texts.h"
#include "ui/form_style.h"
#include "ui/connection_grid.h"
#include "ui/connection_grid_model.h"
#include "ui/grid_filter_box.h"
#include "log/html_report.h"
#include "log/log_auto_save.h"
#include "rules/connection_kill.h"
#include "rules/options_file.h"
#include "ui/log_list.h"
#include "monitor/selected_connection.h"
#include "ui/capture_data_form.h"
#include "ui/msn_popup.h"
#include "ui/option_form.h"
#include "ui/process_info_form.h"
#include "ui/rules_edit_form.h"
#include "ui/traffic_form.h"

namespace tarnwick {

namespace {

constexpr int kFormWidth = 855;
constexpr int kFormHeight = 604;
constexpr int kLogHeight = 123;
constexpr int kSplitterHeight = 2;
constexpr int kPanelInsetLeft = 16;
constexpr int kPanelInsetRight = 17;
constexpr int kRefreshIntervalMs = 3000;
constexpr int kTrayDelayMs = 300;

}  // namespace

TMain_F::TMain_F(TMainServices services, QWidget* parent)
    : QMainWindow(parent),
      Services_(std::move(services)),
      GridModel_(new TConnectionGridModel(this)),
      // Workers hand their tasks over through a queue of our own rather than
      // the toolkit's cross-thread events, so the hand-over is ordered by a
      // standard mutex that ThreadSanitizer can check.
      WorkerTasks_(Services_.Wakeup),
      Session_(TSessionServices{TPlatformServices{Services_.IpTables, Services_.Processes, Services_.Names,
                                                  Services_.EndedConnections},
                                TRuleServices{Services_.Launcher, Services_.Sound, Services_.Killer},
                                Services_.OpenLocationDatabase},
               *GridModel_, [this](std::function<void()> task) { WorkerTasks_.Post(std::move(task)); }) {
    Session_.ShowTraffic(TTrafficViewer::AnyTime, true);
    // A program's capture may open at any time and needs the owners at once.
    Session_.Refresh.MapOwners = true;
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
    grdNetStatList = new TConnectionGrid(Splitter1);
    grdNetStatList->setModel(GridModel_);
    Splitter1->addWidget(grdNetStatList);
    BuildLog();
    Splitter1->addWidget(lstLog);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({kFormHeight - kTopBandHeight - kLogHeight, kLogHeight});
    panelLayout->addWidget(BuildFilterBox());
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

    auto* wakeups = new QSocketNotifier(static_cast<qintptr>(Services_.Wakeup.Fd()), QSocketNotifier::Read, this);
    connect(wakeups, &QSocketNotifier::activated, this, [this] { WorkerTasks_.RunPending(); });
    Session_.Scheduler().OnStarted = [this] { RefreshStarted(); };
    Session_.Scheduler().OnFinished = [this] { RefreshEnded(); };
    Session_.OnPopup = [this](const std::string& header, const std::string& text) {
        Popup->Header = header;
        Popup->Text = text;
        Popup->ShowPopup();
    };
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
    Option_F = new TOption_F(this, Session_.Rules, Services_.Files.SettingsDir, Services_.ExecutablePath,
                             Services_.Autostart, Services_.Boxes, *RulesEdit_F);
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
    Session_.Log.AutoSaver = MakeLogAutoSaver(autoSave, [this](const std::string& message) {
        // A log line may come from inside a refresh's hand-over: the box opens after it.
        PostToWindow([this, message] {
            Services_.Boxes.Show(this, QString::fromStdString(message), kApplicationTitle, QMessageBox::Critical);
        });
    });

    // Bind the tables: without them there is nothing to monitor. What was
    // tried is the system's own (socket diagnostics, the IP helper), and
    // the failure says it.
    if (Services_.ProbeTables) {
        if (const TStatus probed = Services_.ProbeTables(); !probed) {
            Services_.Boxes.Show(nullptr,
                                 QStringLiteral("The connection tables cannot be read: ") +
                                     QString::fromStdString(probed.Failure().Text()),
                                 QStringLiteral("Fatal error"), QMessageBox::Critical);
            Session_.Scheduler().Stop();
            return;
        }
    }
    Timer1->start();
    Timer1Timer();
}

void TMain_F::LoadOptions() {
    const TOptions options = LoadOptionsFile(OptionsFilePath(Services_.Files.SettingsDir));
    Session_.ApplyOptions(options);
    const TRefreshTimerSetting timer = Session_.RefreshTimer();
    if (timer.Periodic) Timer1->setInterval(timer.IntervalMs);
    if (timer.Periodic && TablesBound()) {
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
    {
        const QSignalBlocker quiet(actionLocation);
        actionLocation->setChecked(options.ShowLocation);
    }
    ShowLocationColumns(options.ShowLocation);
    // The filter and sort from the last run; from then on the box and the titles hold them.
    if (!std::exchange(GridViewApplied_, true)) ApplyGridViewOptions(options.GridView);
}

void TMain_F::LoadRules() {
    // A rules file that is there but cannot be read leaves the list as it was,
    // and the user learns why rather than losing the program.
    try {
        Session_.Rules.LoadFromFile(RulesFilePath(Services_.Files.SettingsDir));
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
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(HelpPageToOpen())));
}

void TMain_F::Label2Click() {
    Popup->Header = kApplicationTitle.toStdString();
    Popup->Text = kApplicationTitle.toStdString() + "  " + kCreditLine;
    Popup->ShowPopup();
}

void TMain_F::BuildLog() {
    LogModel_ = new TLogListModel(Session_.Log, this);
    lstLog = new TLogList(LogModel_, Splitter1);
    lstLog->setMinimumHeight(kLogRowHeight);
    Session_.Log.OnAdded = [this](const TLogEntry&) { LogModel_->SyncSoon(); };
    Session_.Log.OnCleared = [this] { LogModel_->Sync(); };
}

const TConnectionRow* TMain_F::SelectedRow() const {
    const int row = grdNetStatList->SelectedGridRow();
    const TGridRows& rows = GridModel_->Rows();
    return row > 0 && row < rows.RowCount() ? &rows.Row(row) : nullptr;
}

void TMain_F::KillConnection(const TConnectionRow* shown) {
    const TKillResult result = KillShownConnection(Session_.Snapshot, shown, Services_.Killer);
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
    itemCaptureProgram->setEnabled(ShownProgram(SelectedRow()).has_value());
}

void TMain_F::ActionProcessInfoExecute() {
    using TProblem = TShownProcessExe::TProblem;
    const TShownProcessExe exe = ShownProcessExe(Session_.Snapshot, SelectedRow(), Services_.ProcessExePath);
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
    const auto found = FindShownConnection(Session_.Snapshot, shown);
    if (!found) {
        Services_.Boxes.Show(this, QString::fromLatin1(kConnectionGone), kApplicationTitle,
                             QMessageBox::Information);
        return;
    }
    TCaptureData_F::OpenForConnection(Services_.PacketSource, Services_.Boxes, this, CaptureEndpointsOf(*found),
                                      Session_.Refresh.Owners());
}

void TMain_F::actionCaptureProgramExecute() {
    // The program is named by the row: no need for its connection to last.
    if (const auto program = ShownProgram(SelectedRow()))
        TCaptureData_F::OpenForProgram(Services_.PacketSource, Services_.Boxes, this, *program,
                                       Session_.Refresh.Owners());
}

void TMain_F::RefreshStarted() { grdNetStatList->NoteSelectedConnection(); }

void TMain_F::RefreshEnded() {
    GridModel_->ShowRefreshedRows();
    grdNetStatList->FollowSelectedConnection();
    UpdateTrafficWindow();
    ShowLocationNote();
    if (!OwnersFailureShown_ && Services_.OwnersHealth) {
        if (const TStatus health = Services_.OwnersHealth(); !health) {
            // The helper is not asked again: the box comes once, after the hand-over.
            OwnersFailureShown_ = true;
            const QString text = QString::fromStdString(health.Failure().Text()) +
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
    if (Timer1) Timer1->stop();
    if (Timer2) Timer2->stop();
    Session_.Scheduler().Stop();
}

void TMain_F::closeEvent(QCloseEvent* event) {
    if (!Services_.Boxes.Ask(this, QString::fromLatin1(kExitQuestion))) {
        event->ignore();
        return;
    }
    StopRefreshes();
    edtFilter->SettleNow();  // a filter typed just now is kept too
    event->accept();
    // The program ends with its main window, even while alerts are still on screen.
    QCoreApplication::quit();
}

void TMain_F::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) LoadOptions();
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
    Session_.Log.Clear();
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
        return BuildTableReport(GridModel_->Rows(), CurrentReportHeading(), GridModel_->ShowTraffic(),
                                &GridModel_->View(), GridModel_->ShowLocation());
    });
}

bool TMain_F::actionSaveLogExecute() {
    return SaveReportPage([this] { return BuildLogReport(Session_.Log.Entries(), CurrentReportHeading()); });
}

void TMain_F::ShowTrafficColumns(bool show) {
    if (GridModel_->ShowTraffic() == show) return;
    GridModel_->SetShowTraffic(show);
    GridColumnsSwitched();
}

void TMain_F::GridColumnsSwitched() {
    // Rows sorted by a column that went are back in the tables' order.
    if (const auto sort = GridModel_->View().Sort(); sort && GridModel_->SectionOfGridColumn(sort->Column) < 0)
        grdNetStatList->ApplySort(std::nullopt);
    FitGridColumns();
}

void TMain_F::FitGridColumns() {
    // Before the window is first laid out the panel has no width yet.
    const int width = Panel1->width() > 23 ? Panel1->width() - 23 : kFormWidth - 30;
    grdNetStatList->SetDefaultColWidth(width / GridModel_->columnCount());
}

void TMain_F::actionTrafficExecute(bool checked) {
    Session_.ShowTraffic(TTrafficViewer::GridColumns, checked);
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
    const TTrafficMonitor& traffic = Session_.Refresh.Traffic;
    Traffic_F->ShowTraffic(traffic.Latest(), traffic.History());
    Traffic_F->show();
    Traffic_F->raise();
    Traffic_F->activateWindow();
}

void TMain_F::UpdateTrafficWindow() {
    const TTrafficMonitor& traffic = Session_.Refresh.Traffic;
    if (Traffic_F && Traffic_F->isVisible()) Traffic_F->ShowTraffic(traffic.Latest(), traffic.History());
}

void TMain_F::actionLogExecute(bool checked) {
    lstLog->setVisible(checked);  // the splitter's handle goes with it
}

}  // namespace tarnwick

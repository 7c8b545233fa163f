// TMain_F: the main window. The connection grid over the event log, the menu
// bar, the refresh timer and the commands, over a TMonitorSession whose
// scheduler runs the refreshes (a worker per timer tick or view command, the
// window thread for the refresh command).
#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/file_locations.h"
#include "common/result.h"
#include "monitor/task_queue.h"
#include "platform/autostart.h"
#include "platform/location_lookup.h"
#include "platform/packet_source.h"
#include "common/pe_version_info.h"
#include "platform/wakeup.h"
#include "session/monitor_session.h"
#include "ui/app_title.h"
#include "ui/message_boxes.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QSplitter;
class QTimer;

namespace tarnwick {

class TConnectionGrid;
class TConnectionGridModel;
class TGridFilterBox;
class TLogList;
class TLogListModel;
class TUMSNPopup;
class TOption_F;
class TProcessInfo_F;
class TRulesEdit_F;
class TTraffic_F;


struct TMainServices {
    TIpTables& IpTables;
    TProcessList& Processes;
    TNameLookup& Names;
    TMessageBoxes& Boxes;
    TConnectionKiller& Killer;
    TProgramLauncher& Launcher;
    TSoundPlayer& Sound;
    TAutostart& Autostart;
    TPacketSource& PacketSource;
    // The folder of the program's executable, where the help page is looked for first.
    std::string ExecutableDir;
    // The executable itself, which the start-up entry starts.
    std::string ExecutablePath;
    // Where Option.ini and rules.dat live and automatic log saves go, decided at start.
    TSettingsLocation Files;
    // Whether the connection tables can be read on this system, and why not.
    std::function<TStatus()> ProbeTables;
    // The executable of a process, and its version fields.
    std::function<TResult<std::string>(uint32_t pid)> ProcessExePath;
    std::function<TProcessInfoFields(const std::string& path)> ProcessInfoOf;
    // Wakes the window thread for the tasks a refresh worker hands to it.
    TWakeup& Wakeup;
    // Connections that end between two refreshes, logged by the refreshes; optional.
    TEndedConnections* EndedConnections = nullptr;
    // Fails once the privileged helper failed while asked for the sockets'
    // owners, saying why; optional. The window says it once, after the refresh.
    std::function<TStatus()> OwnersHealth;
    // Opens the location database for "Show Location" and the help page's
    // words on it; optional (without it no location is ever known).
    TLocationOpener OpenLocationDatabase = nullptr;
};

class TMain_F final : public QMainWindow {
    Q_OBJECT
public:
    explicit TMain_F(TMainServices services, QWidget* parent = nullptr);
    ~TMain_F() override;  // FormDestroy

    // Whether refreshes run: false from creation on when the tables could not
    // be bound (the program ends), and once the window has closed.
    bool TablesBound() const { return !Session_.Scheduler().Stopped(); }

    // Timer1's handler: a refresh on a worker, now or right after the running one.
    void Timer1Timer() { Session_.Scheduler().Request(); }
    // The refresh on the window thread, or right after the running one.
    void RefreshConnections() { Session_.Scheduler().RunNow(); }
    bool RefreshRunning() const { return Session_.Scheduler().Running(); }
    int CompletedRefreshes() const { return Session_.Scheduler().CompletedRefreshes(); }
    // Lets a benchmark or test watch the refreshes; not owned.
    void SetRefreshObserver(TRefreshObserver* observer) { Session_.Scheduler().Observer = observer; }

    // The one way into the event log.
    void AddLog(const std::string& text, LogKind kind) { Session_.Log.AddLog(text, kind); }

    // The grid row the user has selected, as shown; null when none is.
    const TConnectionRow* SelectedRow() const;

    // Closes the connection `shown` displays, telling the user why not when it
    // cannot, and refreshes.
    void KillConnection(const TConnectionRow* shown);

    TMonitorSession& Session() { return Session_; }
    ConnectionSnapshot& Snapshot() { return Session_.Snapshot; }
    const TEventLog& Log() const { return Session_.Log; }
    TEventLog& Log() { return Session_.Log; }
    const TViewSettings& View() const { return Session_.View; }
    TConnectionGridModel& GridModel() { return *GridModel_; }

    // Applies Option.ini: the refresh timer, the one start in the tray, the log's auto-save.
    void LoadOptions();
    // "&Options": the dialog; OK applies the options, Cancel reloads the rules.
    void ActionOptionsExecute();
    // Shows the Options dialog modally; true for OK (tests answer it themselves).
    std::function<bool(TOption_F&)> RunOptionsDialog;
    // The save dialog of the reports ("HTML Files", default extension HTM),
    // proposing the last chosen name: the chosen file, or nullopt on Cancel.
    std::function<std::optional<std::string>(QWidget* parent, const std::string& lastName)> AskReportFile;
    // "&Save Connection Table" and "Save &Logs To Files"; false when nothing was saved.
    bool actionSaveExecute();
    bool actionSaveLogExecute();
    // Hides the window into the tray, or minimises it where there is no tray to come back from.
    void actionTrayExecute();
    // Brings the window back from the tray or the minimised state.
    void RestoreFromTray();
    // The tray icon was activated: D-Bus trays report a single activation and
    // never a double click, so there that restores; other trays restore on
    // the double click.
    void TrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    // Whether the tray speaks the D-Bus status-notifier protocol; tests may override.
    std::function<bool()> TrayIsStatusNotifier;
    // Whether hiding into the tray leaves a way back (a tray is there); tests may override.
    std::function<bool()> TrayAvailable;
    // The credit line of the About alert.
    static constexpr const char* kCreditLine = "A network monitor by the Tarnwick developers";

    // Owned windows and state that the other windows use.
    TUMSNPopup* Popup = nullptr;
    TRulesEdit_F* RulesEdit_F = nullptr;  // the rule editor, made once and reused
    TOption_F* Option_F = nullptr;        // the Options dialog, made once and reused
    TProcessInfo_F* ProcessInfo_F = nullptr;  // the process information window, made once and reused
    TTraffic_F* Traffic_F = nullptr;          // the traffic window, made when first opened
    bool TrayDone = false;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;  // the one start in the tray, 300 ms after the options ask for it
    QSystemTrayIcon* TrayIcon = nullptr;
    QMenu* pmTray = nullptr;
    QLabel* Label1 = nullptr;  // "Help"
    QLabel* Label2 = nullptr;  // "About"

    // Controls and commands.
    QWidget* Panel1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    TConnectionGrid* grdNetStatList = nullptr;
    TGridFilterBox* edtFilter = nullptr;  // the filter above the grid
    TLogList* lstLog = nullptr;
    QMenuBar* MainMenu = nullptr;
    QMenu* mnuFile = nullptr;
    QMenu* mnuConnection = nullptr;
    QMenu* mnuView = nullptr;
    QMenu* mnuTools = nullptr;
    QMenu* pmLog = nullptr;
    QMenu* pmConnection = nullptr;
    QAction* actionRefresh = nullptr;
    QAction* actionClearLog = nullptr;
    QAction* actionExit = nullptr;
    QAction* actionUDP = nullptr;
    QAction* actionTCP = nullptr;
    QAction* actionShotname = nullptr;
    QAction* actionIpv6 = nullptr;  // "Show IPv&6": the TCPv6 and UDPv6 rows in the grid
    QAction* actionTraffic = nullptr;  // "Show &Traffic": the grid's four traffic columns, stored in Option.ini
    QAction* actionLocation = nullptr;  // "Show &Location": the Country and Network columns, stored in Option.ini
    QAction* actionTrafficGraph = nullptr;  // "&Traffic Graph": the traffic window
    QAction* actionLog = nullptr;
    QAction* actionRules = nullptr;  // "Enable &Rules": mirrors the session's switch
    QAction* actionKill = nullptr;
    QAction* KillConnection1 = nullptr;  // pmConnection's own kill entry, enabled by the selected row
    QAction* actionCopy = nullptr;  // "&Copy" (Ctrl+C in the grid): the selected rows as lines of text
    QAction* actionTray = nullptr;
    QAction* ActionOptions = nullptr;
    QAction* ActionProcessInfo = nullptr;  // "&Process Infomation"
    QAction* actionSave = nullptr;
    QAction* actionSaveLog = nullptr;
    QAction* actionDataCapture = nullptr;  // "Data &Capture": an empty capture window
    QAction* actionCapture = nullptr;      // "C&apture Data": capture the selected connection
    QAction* itemCapture = nullptr;        // pmConnection's own capture entry, enabled by the selected row
    // "Capture &Program Traffic": capture the packets of the selected row's
    // program; pmConnection's own entry is enabled when the row names one.
    QAction* actionCaptureProgram = nullptr;
    QAction* itemCaptureProgram = nullptr;
    QAction* RefreshConnectionList1 = nullptr;  // the tray menu's "&Restore"

signals:
    void RefreshFinished();

protected:
    void closeEvent(QCloseEvent* event) override;  // FormCloseQuery
    void showEvent(QShowEvent* event) override;    // FormShow
    void changeEvent(QEvent* event) override;      // minimising hides the task bar button
    bool eventFilter(QObject* watched, QEvent* event) override;  // FormResize (of Panel1)

private:
    static constexpr int kTopBandHeight = 37;  // the band of the banner, the menu bar and the links

    void FormCreate();
    QWidget* BuildTopBand();
    void BuildMenus();
    void BuildLog();
    void RefreshStarted();
    void RefreshEnded();
    void StopRefreshes();
    // Runs `task` on the window thread after the running event, never inside it:
    // a modal box must not open inside a refresh's hand-over.
    void PostToWindow(std::function<void()> task);
    void actionClearLogExecute();
    void BuildTray();
    void LoadRules();
    void Timer2Timer();
    void Label1Click();
    void Label2Click();
    void actionKillExecute();
    void actionCaptureExecute();
    void actionCaptureProgramExecute();
    void ActionProcessInfoExecute();
    bool SaveReportPage(const std::function<std::string()>& buildPage);
    void pmConnectionPopup();
    void actionLogExecute(bool checked);
    void actionTrafficExecute(bool checked);
    void actionTrafficGraphExecute();
    void ShowTrafficColumns(bool show);
    void UpdateTrafficWindow();
    // Shares the grid's width among its columns, as many as are shown.
    void FitGridColumns();
    // After columns were shown or hidden: a sort by a hidden one ends, and
    // the columns share the width anew.
    void GridColumnsSwitched();
    void actionLocationExecute(bool checked);
    void ShowLocationColumns(bool show);
    // The status line's note while locations are shown and the database cannot be read.
    void ShowLocationNote();
    // The help page to open: a copy of it with its words on the location
    // database filled in, or the page itself where no copy can be made.
    std::string HelpPageToOpen();
    // The filter box and the grid's sort and copy (main_grid_view.cpp).
    QWidget* BuildFilterBox();
    void ApplyGridViewOptions(const TGridViewOptions& view);
    void SaveGridView();
    void actionCopyExecute();

    TMainServices Services_;
    TConnectionGridModel* GridModel_;
    TTaskQueue WorkerTasks_;  // what refresh workers hand to this thread
    TMonitorSession Session_;
    TLogListModel* LogModel_ = nullptr;
    bool OwnersFailureShown_ = false;
    std::string LastReportName_;  // the save dialog proposes the last chosen name
    bool GridViewApplied_ = false;  // the stored filter and sort are taken once, at the first show
    bool GridViewSaveFailed_ = false;  // a failed save of them is said once
};

}  // namespace tarnwick

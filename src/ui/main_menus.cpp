// The main window's menu bar in its band beside the banner and the Help and
// About links, and the context menus of the grid and the log.
#include "ui/main_form.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

#include "common/kept_texts.h"
#include "ui/banner.h"
#include "ui/capture_data_form.h"
#include "ui/connection_grid.h"
#include "ui/log_list.h"

namespace tarnwick {

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
            [this] {
                TCaptureData_F::OpenEmpty(Services_.PacketSource, Services_.Boxes, this, Session_.Refresh.Owners());
            });
    actionCapture = makeAction("actionCapture", QStringLiteral("C&apture Data"));
    connect(actionCapture, &QAction::triggered, this, &TMain_F::actionCaptureExecute);
    itemCapture = makeAction("itemCapture", QStringLiteral("C&apture Data"));
    connect(itemCapture, &QAction::triggered, this, &TMain_F::actionCaptureExecute);
    actionCaptureProgram = makeAction("actionCaptureProgram", QStringLiteral("Capture &Program Traffic"));
    connect(actionCaptureProgram, &QAction::triggered, this, &TMain_F::actionCaptureProgramExecute);
    itemCaptureProgram = makeAction("itemCaptureProgram", QStringLiteral("Capture &Program Traffic"));
    connect(itemCaptureProgram, &QAction::triggered, this, &TMain_F::actionCaptureProgramExecute);

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
    actionRules->setChecked(Session_.RulesEnabled());
    connect(actionRules, &QAction::toggled, this, [this](bool checked) { Session_.EnableRules(checked); });
    actionKill = makeAction("actionKill", QStringLiteral("&Kill Connection"));
    connect(actionKill, &QAction::triggered, this, &TMain_F::actionKillExecute);
    KillConnection1 = makeAction("KillConnection1", QStringLiteral("&Kill Connection"));
    connect(KillConnection1, &QAction::triggered, this, &TMain_F::actionKillExecute);
    actionCopy = makeAction("actionCopy", QStringLiteral("&Copy"));
    actionCopy->setShortcut(QKeySequence::Copy);
    // Ctrl+C copies rows only from the grid: the filter box and the log keep their own.
    actionCopy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    grdNetStatList->addAction(actionCopy);
    connect(actionCopy, &QAction::triggered, this, &TMain_F::actionCopyExecute);

    TViewSettings& view = Session_.View;
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
    actionUDP = makeView("actionUDP", QStringLiteral("Show &UDP Open Port"), view.ShowUdp);
    actionTCP = makeView("actionTCP", QStringLiteral("Show &TCP Open Port"), view.ShowTcp);
    actionShotname = makeView("actionShotname", QStringLiteral("Show &Port Shortnames"), view.ShowShortNames);
    actionIpv6 = makeView("actionIpv6", QStringLiteral("Show IPv&6"), view.ShowIpv6);
    actionTraffic = makeAction("actionTraffic", QStringLiteral("Show &Traffic"));
    actionTraffic->setCheckable(true);
    actionTraffic->setChecked(false);
    connect(actionTraffic, &QAction::toggled, this, &TMain_F::actionTrafficExecute);
    actionLocation = makeAction("actionLocation", QStringLiteral("Show &Location"));
    actionLocation->setCheckable(true);
    actionLocation->setChecked(false);
    connect(actionLocation, &QAction::toggled, this, &TMain_F::actionLocationExecute);
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
    mnuConnection->addAction(actionCaptureProgram);
    mnuConnection->addSeparator();
    mnuConnection->addAction(actionKill);
    mnuConnection->addSeparator();
    mnuConnection->addAction(actionCopy);

    mnuView = MainMenu->addMenu(QStringLiteral("&View"));
    mnuView->addAction(actionUDP);
    mnuView->addAction(actionTCP);
    mnuView->addAction(actionIpv6);
    mnuView->addSeparator();
    mnuView->addAction(actionShotname);
    mnuView->addAction(actionTraffic);
    mnuView->addAction(actionLocation);
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
    pmConnection->addAction(itemCaptureProgram);
    pmConnection->addSeparator();
    pmConnection->addAction(KillConnection1);
    pmConnection->addSeparator();
    pmConnection->addAction(actionSave);
    pmConnection->addSeparator();
    pmConnection->addAction(actionCopy);
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

}  // namespace tarnwick

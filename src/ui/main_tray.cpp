// The main window and the tray: the tray icon with its menu, hiding into the
// tray and coming back, and the one start in the tray the options may ask for.
#include "ui/main_form.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QTimer>

#include "ui/banner.h"
#include "ui/tray_protocol.h"

namespace tarnwick {

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

void TMain_F::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Minimised, only the tray icon stays: the task bar button goes with the window.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayAvailable && TrayAvailable())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) hide();
        });
}

}  // namespace tarnwick

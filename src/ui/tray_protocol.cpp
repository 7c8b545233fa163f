#include "ui/tray_protocol.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace tarnwick {

bool StatusNotifierTrayInUse() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    // The watcher Qt itself looks for before it picks the D-Bus tray.
    return bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

}  // namespace tarnwick

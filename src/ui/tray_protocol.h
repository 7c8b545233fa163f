// Which protocol the desktop's tray speaks. Qt shows its tray icon through
// the D-Bus status-notifier protocol when a watcher for it is registered on
// the session bus, and through an XEmbed tray window otherwise; the two
// report clicks differently (a status-notifier tray sends one activation and
// never a double click).
#pragma once

namespace tarnwick {

// True when a status-notifier watcher is registered on the session bus.
bool StatusNotifierTrayInUse();

}  // namespace tarnwick

#include "ui/tray_protocol.h"

namespace tarnwick {

// Windows's notification area reports single and double clicks itself, as an
// XEmbed tray does: no status-notifier protocol there.
bool StatusNotifierTrayInUse() { return false; }

}  // namespace tarnwick

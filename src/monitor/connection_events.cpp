#include "monitor/connection_events.h"

namespace tarnwick {

std::string ConnectedText(bool withProcess, const std::string& process, const std::string& remoteAddr,
                          const std::string& remotePort) {
    const std::string tail = "Connected to " + remoteAddr + " On Port:" + remotePort;
    return withProcess ? process + " " + tail : tail;
}

std::string StatusChangedText(bool withProcess, const std::string& process, const std::string& status,
                              const std::string& remoteAddr, const std::string& remotePort) {
    const std::string tail =
        "Connection Status Changed to " + status + ",RemoteAddr " + remoteAddr + " On Port:" + remotePort;
    return withProcess ? process + "'s " + tail : tail;
}

std::string DisconnectedText(bool withProcess, const std::string& process, const std::string& remoteAddr,
                             const std::string& remotePort) {
    const std::string tail = "DisConnected to " + remoteAddr + " On Port:" + remotePort;
    return withProcess && process != "?" ? process + " " + tail : tail;
}

}  // namespace tarnwick

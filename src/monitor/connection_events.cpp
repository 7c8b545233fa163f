#include "monitor/connection_events.h"

#include "common/kept_texts.h"

namespace tarnwick {

std::string ConnectedText(const std::string& process, const std::string& remoteAddr,
                          const std::string& remotePort) {
    const std::string tail = "Connected to " + remoteAddr + kOnPort + remotePort;
    return process + " " + tail;
}

std::string StatusChangedText(const std::string& process, const std::string& status,
                              const std::string& remoteAddr, const std::string& remotePort) {
    const std::string tail =
        kStatusChangedTo + status + kStatusChangedRemoteAddr + remoteAddr + kOnPort + remotePort;
    return process + "'s " + tail;
}

std::string DisconnectedText(const std::string& process, const std::string& remoteAddr,
                             const std::string& remotePort) {
    const std::string tail = kDisconnectedTo + remoteAddr + kOnPort + remotePort;
    return process != "?" ? process + " " + tail : tail;
}

std::string ShortLivedNotShownText(uint64_t count, bool uncounted) {
    if (count == 0) return "Some short-lived connections were not shown.";
    const std::string number = (uncounted ? "More than " : "") + std::to_string(count);
    return number + (count == 1 && !uncounted ? " short-lived connection was not shown."
                                              : " short-lived connections were not shown.");
}

}  // namespace tarnwick

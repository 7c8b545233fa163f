// Event texts of the change detection. They begin with the process name.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// A new connection in the Established state.
std::string ConnectedText(const std::string& process, const std::string& remoteAddr,
                          const std::string& remotePort);

// A new connection in another state than Established or Listening, or a known
// connection whose state changed.
std::string StatusChangedText(const std::string& process, const std::string& status,
                              const std::string& remoteAddr, const std::string& remotePort);

// A connection gone from the table. An unknown process ("?") is left out.
std::string DisconnectedText(const std::string& process, const std::string& remoteAddr,
                             const std::string& remotePort);

// Connections that ended between refreshes but are not in the log: `count`
// of them, and more still when `uncounted` (the system lost some without
// saying how many).
std::string ShortLivedNotShownText(uint64_t count, bool uncounted);

}  // namespace tarnwick

// Event texts of the change detection. `withProcess` is true when the tables
// carry owning processes; the texts then begin with the process name.
#pragma once

#include <string>

namespace tarnwick {

// A new connection in the Established state.
std::string ConnectedText(bool withProcess, const std::string& process, const std::string& remoteAddr,
                          const std::string& remotePort);

// A new connection in another state than Established or Listening, or a known
// connection whose state changed.
std::string StatusChangedText(bool withProcess, const std::string& process, const std::string& status,
                              const std::string& remoteAddr, const std::string& remotePort);

// A connection gone from the table. An unknown process ("?") is left out.
std::string DisconnectedText(bool withProcess, const std::string& process, const std::string& remoteAddr,
                             const std::string& remotePort);

}  // namespace tarnwick

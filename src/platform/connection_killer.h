// Closes TCP connections of this machine.
#pragma once

#include <optional>
#include <string>

#include "platform/ip_tables.h"

namespace tarnwick {

class TConnectionKiller {
public:
    virtual ~TConnectionKiller() = default;

    // Closes the TCP connection with the ends of `row` (its address and port
    // fields as the tables hold them; state and process are not used). Returns
    // nullopt when the system closed it, otherwise the system's reason
    // (for example that the privilege to close connections is missing).
    virtual std::optional<std::string> KillTcp(const TTcpRow& row) = 0;
};

}  // namespace tarnwick

#include "monitor/tcp_state_names.h"

namespace tarnwick {

std::string_view TcpStateName(uint32_t state) {
    if (state >= 1 && state < TcpStateNames.size()) return TcpStateNames[state];
    return "Unknown";
}

}  // namespace tarnwick

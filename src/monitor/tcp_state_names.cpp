#include "monitor/tcp_state_names.h"

#include <array>

namespace tarnwick {

namespace {

// Indexed by the state's number; entry 0 is no state.
constexpr std::array<std::string_view, 13> kNames{
    "",          "Closed",     "Listening", "Syn_Sent", "Syn_Rcvd",  "Established", "Fin_Wait1",
    "Fin_Wait2", "Close_Wait", "Closing",   "Last_Ack", "Time_Wait", "Delete_Tcb"};

}  // namespace

std::string_view TcpStateName(TTcpState state) {
    const auto number = static_cast<size_t>(state);
    if (number >= 1 && number < kNames.size()) return kNames[number];
    return "Unknown";
}

}  // namespace tarnwick

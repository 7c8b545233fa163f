// Names of the TCP states of the connection tables, numbered 1..12.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tarnwick {

// Indexed by the state number itself; entry 0 is unused.
inline constexpr std::array<std::string_view, 13> TcpStateNames{
    "",          "Closed",   "Listening", "Syn_Sent", "Syn_Rcvd",  "Established", "Fin_Wait1",
    "Fin_Wait2", "Close_Wait", "Closing", "Last_Ack", "Time_Wait", "Delete_Tcb"};

inline constexpr std::string_view kStatusEstablished = "Established";
inline constexpr std::string_view kStatusListening = "Listening";
inline constexpr std::string_view kStatusSynSent = "Syn_Sent";
inline constexpr std::string_view kStatusSynRcvd = "Syn_Rcvd";

// The name of `state`; a number outside 1..12 has no name in the table and
// reads "Unknown", so it never matches "Established" or "Listening".
std::string_view TcpStateName(uint32_t state);

}  // namespace tarnwick

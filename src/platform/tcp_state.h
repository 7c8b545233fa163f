// The state of a TCP socket as the tables give it. The numbers are fixed:
// the helper's close requests carry them, and rows sort by them.
#pragma once

#include <cstdint>

namespace tarnwick {

enum class TTcpState : uint8_t {
    Closed = 1,  // also a socket merely bound
    Listening = 2,
    SynSent = 3,
    SynRcvd = 4,  // also a connection request still in its handshake
    Established = 5,
    FinWait1 = 6,
    FinWait2 = 7,
    CloseWait = 8,
    Closing = 9,
    LastAck = 10,
    TimeWait = 11,
    DeleteTcb = 12,  // no Linux socket is ever in it
};

// Whether a socket in `state` has been through an established connection
// (Fin_Wait1 .. Time_Wait): closing it is what brought it there.
constexpr bool PastEstablished(TTcpState state) {
    return state >= TTcpState::FinWait1 && state <= TTcpState::TimeWait;
}

}  // namespace tarnwick

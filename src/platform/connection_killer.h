// Closes TCP connections of this machine.
#pragma once

#include "common/result.h"
#include "platform/ip_tables.h"

namespace tarnwick {

class TConnectionKiller {
public:
    virtual ~TConnectionKiller() = default;

    // Closes the TCP connection with the ends of `row` (its address and port
    // fields as the tables hold them; state and process are not used). A
    // failure carries the system's errno and, as its context, what that means
    // here where there is more to say than the system's message ("closing
    // connections needs the CAP_NET_ADMIN capability"), else an empty
    // context; a failure without errno (the helper could not be asked) says
    // all in its context. KillFailureReason (rules/connection_kill.h) words it.
    virtual TStatus KillTcp(const TTcpRow& row) = 0;
};

}  // namespace tarnwick

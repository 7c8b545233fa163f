// Closes TCP connections of a Windows system with the IP helper's
// SetTcpEntry, setting the connection's entry to MIB_TCP_STATE_DELETE_TCB:
// Windows drops the connection and sends the peer a reset. It takes IPv4
// connections only; an IPv6 one cannot be closed this way, and KillTcp says so.
// Windows allows it only to an administrator (an elevated process). A close
// the system reports done is checked in the table: a connection still
// established there is a failure.
#pragma once

#include "platform/connection_killer.h"

namespace tarnwick {

class TWindowsConnectionKiller final : public TConnectionKiller {
public:
    TStatus KillTcp(const TTcpRow& row) override;
};

}  // namespace tarnwick

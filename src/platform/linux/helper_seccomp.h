// tarnwick-helper's system-call filter: once it has set itself up, the
// helper can make only the calls its three jobs need (closing a connection
// over sock_diag netlink, capturing on a packet socket with a forwarding
// child, reading socket owners under /proc). Anything else fails with EPERM,
// so a flaw in the serving code cannot be turned into running a program,
// writing a file or reaching another network.
#pragma once

#include "common/result.h"

namespace tarnwick {

// Installs the filter on every thread of the process, for good: it cannot be
// lifted, and children inherit it. Sets no_new_privs, which a filter
// installed without CAP_SYS_ADMIN requires. Fails when the kernel refused it.
TStatus InstallHelperSyscallFilter();

}  // namespace tarnwick

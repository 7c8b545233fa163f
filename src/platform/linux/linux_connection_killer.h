// Closes TCP connections of this machine, IPv4 and IPv6, through sock_diag's
// SOCK_DESTROY (NETLINK_SOCK_DIAG). The kernel aborts the socket as if a reset
// had arrived: its owner's pending and next calls fail with ECONNABORTED, and
// a reset is sent to the peer.
//
// Needs the CAP_NET_ADMIN capability and a kernel built with
// CONFIG_INET_DIAG_DESTROY; without either, KillTcp fails and says which.
#pragma once

#include "platform/connection_killer.h"

namespace tarnwick {

// Whether connections can be closed here: fails, as KillTcp would, when this
// kernel cannot close sockets or this process lacks CAP_NET_ADMIN. Closes
// nothing: it asks the kernel to close a socket that cannot exist.
TStatus ConnectionKillAvailable();

class TLinuxConnectionKiller final : public TConnectionKiller {
public:
    // With `establishedOnly`, a socket the kernel does not hold as
    // established (one closing already, or still opening) is not closed
    // either, whatever state the row says: tarnwick-helper closes nothing
    // else for a program that may ask anything.
    explicit TLinuxConnectionKiller(bool establishedOnly = false) : EstablishedOnly_(establishedOnly) {}

    // Closes exactly the socket whose local and remote ends are the row's:
    // for an IPv6 row (V6) the AF_INET6 socket with its ends bound to its
    // interface; for an IPv4 row the AF_INET socket with its ends or, when
    // there is none, the AF_INET6 socket with the IPv4-mapped ends (the
    // tables list those as IPv4 rows).
    // The kernel's lookup by ends falls back to a listener on the local end
    // when no connection has them, so the socket is first looked up, checked
    // to have all four ends, and then closed by its cookie: a connection
    // that is already gone never takes a listening server down with it, and
    // one replaced by a new connection with the same ends in between is not
    // closed either. Each call opens its own netlink socket, so one object
    // may be used from several threads.
    TStatus KillTcp(const TTcpRow& row) override;

private:
    bool EstablishedOnly_;
};

}  // namespace tarnwick

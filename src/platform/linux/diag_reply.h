// The replies of a sock_diag dump, parsed into rows of the tables. The
// kernel's messages are outside input: every length is checked before a
// byte is read.
#pragma once

#include <linux/inet_diag.h>
#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/ip_tables.h"

namespace tarnwick {

// A TCP state of include/net/tcp_states.h as the tables give it. Numbers
// the kernel does not define read Closed.
TTcpState TcpStateFromLinux(uint8_t linuxState);

// The inet_diag_msg that `message` carries; false (errno EBADMSG) when the
// message is too short to hold one.
bool ReadDiagMessage(const nlmsghdr* message, inet_diag_msg& diag);

// The data byte counters of the INET_DIAG_INFO attribute of a reply whose
// inet_diag_msg was read, for a socket in kernel state `linuxState`
// (tcpi_bytes_acked as sent, tcpi_bytes_received as received, each without
// the SYN and FIN they count); unknown without the attribute, or with a
// tcp_info that ends before them (kernels before 4.1 send a shorter one).
TSocketTraffic ReadDiagTraffic(const nlmsghdr* message, uint8_t linuxState);

// Whether the connection of a reply ever completed its handshake: from its
// tcp_info's tcpi_delivered and tcpi_snd_wnd (on older kernels what of them
// there is, before 4.18 whether tcpi_segs_in says any segment came in);
// nullopt without a tcp_info that long (kernels before 4.2).
std::optional<bool> ReadDiagWasEstablished(const nlmsghdr* message);

// The socket cookie of a reply (idiag_cookie); 0 when the kernel has none.
uint64_t DiagCookie(const inet_diag_msg& diag);

// One SOCK_DIAG_BY_FAMILY reply (or TCPDIAG_GETSOCK, the older request's) of
// a dump of `protocol` (IPPROTO_TCP or IPPROTO_UDP) into a row: an IPv4 row (AF_INET, or AF_INET6 with
// IPv4-mapped ends) into `v4`, any other IPv6 row into `v6`, or nowhere when
// `v6` is null. The row has its owner still to find (OwningPid 0). A UDP
// socket's row has only its local end, its interface, cookie and inode; a
// TCP row has its byte counters when the reply carries a tcp_info long
// enough to hold them (their time left for the caller to set). Other
// messages are passed over. A libmnl callback result: MNL_CB_OK, or
// MNL_CB_ERROR with errno set.
int ParseDiagSocket(const nlmsghdr* message, uint8_t protocol, std::vector<TTcpRow>& v4, std::vector<TTcpRow>* v6);

// A whole buffer of dump replies, as one receive gives them: each message is
// parsed as above, up to NLMSG_DONE or an error message. 0, or the errno of
// the failure (a malformed or error message).
int ParseDiagReplies(const void* buffer, size_t length, uint8_t protocol, std::vector<TTcpRow>& v4,
                     std::vector<TTcpRow>* v6);

}  // namespace tarnwick

// A preloaded library that takes the connection tables away from the
// command-line tests, as a system without them would:
//   TARNWICK_SHIM_NETLINK=none  no socket-diagnostics socket can be opened
//                               (a kernel without netlink sock_diag);
//   TARNWICK_SHIM_NETLINK=udp   every UDP dump is refused with ENOENT (the
//                               udp_diag module missing).
#include <dlfcn.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool Mode(const char* mode) {
    const char* wanted = std::getenv("TARNWICK_SHIM_NETLINK");
    return wanted && std::strcmp(wanted, mode) == 0;
}

bool IsUdpDump(const void* buffer, size_t length) {
    if (length < NLMSG_HDRLEN + sizeof(inet_diag_req_v2)) return false;
    nlmsghdr header;
    std::memcpy(&header, buffer, sizeof header);
    inet_diag_req_v2 request;
    std::memcpy(&request, static_cast<const char*>(buffer) + NLMSG_HDRLEN, sizeof request);
    return header.nlmsg_type == SOCK_DIAG_BY_FAMILY && request.sdiag_protocol == IPPROTO_UDP;
}

}  // namespace

extern "C" int socket(int domain, int type, int protocol) {
    static const auto real = reinterpret_cast<int (*)(int, int, int)>(dlsym(RTLD_NEXT, "socket"));
    if (domain == AF_NETLINK && protocol == NETLINK_SOCK_DIAG && Mode("none")) {
        errno = EPROTONOSUPPORT;
        return -1;
    }
    return real(domain, type, protocol);
}

extern "C" ssize_t sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to,
                          socklen_t toLength) {
    static const auto real = reinterpret_cast<ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t)>(
        dlsym(RTLD_NEXT, "sendto"));
    if (Mode("udp") && IsUdpDump(buffer, length)) {
        errno = ENOENT;
        return -1;
    }
    return real(fd, buffer, length, flags, to, toLength);
}

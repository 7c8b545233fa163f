#include "platform/local_host.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>

#include "platform/windows/win32_failure.h"
#include "platform/windows/winsock.h"

namespace tarnwick {

TResult<TLocalHost> ReadLocalHost() {
    if (const TStatus started = StartWinsock(); !started) return started.Failure();
    char buffer[64] = {};
    // A name that does not fit (with its NUL) fails like an unreadable one.
    if (::gethostname(buffer, sizeof buffer) != 0) {
        if (::WSAGetLastError() == WSAEFAULT) return TFailure{ENAMETOOLONG, "reading the host name"};
        return FailureFromLastSocketError("reading the host name");
    }
    if (::memchr(buffer, '\0', sizeof buffer) == nullptr) return TFailure{ENAMETOOLONG, "reading the host name"};
    TLocalHost host{buffer, {}};
    if (host.Name.empty()) return host;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.Name.c_str(), nullptr, &hints, &found) == 0) {
        for (const addrinfo* a = found; a; a = a->ai_next) {
            char dotted[INET_ADDRSTRLEN] = {};
            auto* sin = reinterpret_cast<sockaddr_in*>(a->ai_addr);
            if (::inet_ntop(AF_INET, &sin->sin_addr, dotted, sizeof dotted)) host.Ipv4Addresses.emplace_back(dotted);
        }
        ::freeaddrinfo(found);
    }
    return host;
}

}  // namespace tarnwick

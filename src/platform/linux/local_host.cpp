#include "platform/local_host.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnwick {

TResult<TLocalHost> ReadLocalHost() {
    char buffer[64] = {};
    errno = 0;
    // A name that does not fit (with its NUL) fails like an unreadable one.
    if (::gethostname(buffer, sizeof buffer) != 0 || ::memchr(buffer, '\0', sizeof buffer) == nullptr)
        return TFailure{errno != 0 ? errno : ENAMETOOLONG, "reading the host name"};
    TLocalHost host{buffer, {}};
    if (host.Name.empty()) return host;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.Name.c_str(), nullptr, &hints, &found) == 0) {
        for (const addrinfo* a = found; a; a = a->ai_next) {
            char dotted[INET_ADDRSTRLEN] = {};
            const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            if (::inet_ntop(AF_INET, &sin->sin_addr, dotted, sizeof dotted)) host.Ipv4Addresses.emplace_back(dotted);
        }
        ::freeaddrinfo(found);
    }
    return host;
}

}  // namespace tarnwick

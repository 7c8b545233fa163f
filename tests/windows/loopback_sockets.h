// Loopback sockets made with Winsock for the Windows backend's tests: a
// listener, a connection to it and its accepted end.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>

#include "platform/windows/unique_handle.h"
#include "platform/windows/winsock.h"

namespace tarnwick::testing {

inline uint16_t LocalPortOf(SOCKET socket) {
    sockaddr_storage address{};
    int length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    const auto port = address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                                    : reinterpret_cast<sockaddr_in*>(&address)->sin_port;
    return ntohs(port);
}

// A TCP socket of `family` listening on the loopback address (IPv6: ::1, or
// with `dualStack` the any address "::" taking IPv4 connections too) at a
// port the system picks.
inline TUniqueSocket Listen(int family, bool dualStack = false) {
    TUniqueSocket listener(::socket(family, SOCK_STREAM, IPPROTO_TCP));
    if (family == AF_INET6) {
        DWORD v6Only = dualStack ? 0 : 1;
        ::setsockopt(listener.Get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6Only), sizeof v6Only);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        if (!dualStack) address.sin6_addr = in6addr_loopback;
        ::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    ::listen(listener.Get(), 4);
    return listener;
}

// A connection to 127.0.0.1:`port`, and its end accepted by `listener`.
struct TLoopbackConnection {
    TUniqueSocket Client;
    TUniqueSocket Server;
};

inline TLoopbackConnection ConnectIpv4(SOCKET listener, uint16_t port) {
    TLoopbackConnection connection;
    connection.Client = TUniqueSocket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    ::connect(connection.Client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    connection.Server = TUniqueSocket(::accept(listener, nullptr, nullptr));
    return connection;
}

// Whether this program runs under Wine rather than Windows: Wine's ntdll
// says its version.
inline bool RunsUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace tarnwick::testing

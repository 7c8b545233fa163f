// tarnwick-short-lived N
//
// Makes short-lived TCP connections on loopback for bench/short_lived.sh.
// First it opens a listener on 127.0.0.1 and one connection through it that
// it keeps (the marker: the first refresh that lists it shows that a refresh
// has just run), and prints "marker <listener port>". On a line on stdin it
// then opens and closes N connections one after the other, each within
// 50 ms, and prints the client's port of each, one a line, then
// "done <total ms> <longest ms>". It exits when stdin reaches its end,
// closing the marker and the listener last.
//
// The client closes first and the server only once it has read the end of
// the stream, so the server's end closes passively and ends at once (that is
// the end whose remote port is the client's, unique to the connection) while
// the client's end waits in TIME_WAIT.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "tarnwick-short-lived: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

uint16_t PortOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) < 0) Fail("getsockname");
    return ntohs(address.sin_port);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A connected client and the server's accepted end.
struct TPair {
    int Client;
    int Server;
};

TPair Connect(int listener, uint16_t port) {
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client < 0) Fail("socket");
    const sockaddr_in address = Loopback(port);
    if (connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) Fail("connect");
    const int server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (server < 0) Fail("accept");
    return {client, server};
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200;
    if (count <= 0) {
        std::fprintf(stderr, "usage: tarnwick-short-lived N\n");
        return 2;
    }
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) Fail("socket");
    const sockaddr_in any = Loopback(0);
    if (bind(listener, reinterpret_cast<const sockaddr*>(&any), sizeof any) < 0) Fail("bind");
    if (listen(listener, 128) < 0) Fail("listen");
    const uint16_t port = PortOf(listener);
    const TPair marker = Connect(listener, port);
    std::cout << "marker " << port << std::endl;

    std::string line;
    if (!std::getline(std::cin, line)) return 0;
    using TClock = std::chrono::steady_clock;
    const auto started = TClock::now();
    TClock::duration longest{};
    for (long i = 0; i < count; ++i) {
        const auto opened = TClock::now();
        const TPair pair = Connect(listener, port);
        const uint16_t clientPort = PortOf(pair.Client);
        close(pair.Client);
        char byte;
        while (read(pair.Server, &byte, 1) > 0) {
        }
        close(pair.Server);
        longest = std::max(longest, TClock::now() - opened);
        std::cout << clientPort << '\n';
    }
    const auto ms = [](TClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::cout << "done " << ms(TClock::now() - started) << ' ' << ms(longest) << std::endl;

    while (std::getline(std::cin, line)) {
    }
    close(marker.Client);
    close(marker.Server);
    close(listener);
    return 0;
}

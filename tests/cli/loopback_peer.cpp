// Test peer for the command-line tests: a listener on 127.0.0.1 (on ::1 when
// the first argument is "6", on the address the first argument names when it
// is one, in a network namespace of the test's own) and one established
// connection to it. Prints "<listen port> <client port>" and holds everything
// open until its standard input closes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

int Fail(const char* what) {
    std::perror(what);
    return 1;
}

uint16_t LocalPort(int fd) {
    sockaddr_in6 addr{};  // the port sits at the same place in both families' addresses
    socklen_t length = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin6_port);
}

}  // namespace

int main(int argc, char** argv) {
    const char* named = argc > 1 ? argv[1] : "";
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* addr4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* addr6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6_addr named6 = in6addr_loopback;
    in_addr named4{htonl(INADDR_LOOPBACK)};
    const bool v6 = std::strcmp(named, "6") == 0 || inet_pton(AF_INET6, named, &named6) == 1;
    if (!v6 && *named && inet_pton(AF_INET, named, &named4) != 1) {
        std::fprintf(stderr, "not an address: %s\n", named);
        return 2;
    }
    if (v6) {
        addr6->sin6_family = AF_INET6;
        addr6->sin6_addr = named6;
        length = sizeof *addr6;
    } else {
        addr4->sin_family = AF_INET;
        addr4->sin_addr = named4;
        length = sizeof *addr4;
    }
    auto* addr = reinterpret_cast<sockaddr*>(&storage);
    const int listener = socket(storage.ss_family, SOCK_STREAM, 0);
    if (listener < 0 || bind(listener, addr, length) != 0 || listen(listener, 4) != 0) return Fail("listener");
    const uint16_t port = htons(LocalPort(listener));
    (v6 ? addr6->sin6_port : addr4->sin_port) = port;
    const int client = socket(storage.ss_family, SOCK_STREAM, 0);
    if (client < 0 || connect(client, addr, length) != 0) return Fail("connect");
    const int server = accept(listener, nullptr, nullptr);
    if (server < 0) return Fail("accept");
    std::printf("%u %u\n", LocalPort(listener), LocalPort(client));
    std::fflush(stdout);
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}

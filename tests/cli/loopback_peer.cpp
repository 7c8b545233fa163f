// Test peer for the command-line tests: a listener on 127.0.0.1 and one
// established connection to it. Prints "<listen port> <client port>" and holds
// everything open until its standard input closes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace {

int Fail(const char* what) {
    std::perror(what);
    return 1;
}

uint16_t LocalPort(int fd) {
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin_port);
}

}  // namespace

int main() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 4) != 0)
        return Fail("listener");
    addr.sin_port = htons(LocalPort(listener));
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    if (client < 0 || connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return Fail("connect");
    const int server = accept(listener, nullptr, nullptr);
    if (server < 0) return Fail("accept");
    std::printf("%u %u\n", LocalPort(listener), LocalPort(client));
    std::fflush(stdout);
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}

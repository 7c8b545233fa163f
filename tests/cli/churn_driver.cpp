// Makes short loopback connections in a fixed table of orderings and writes
// down what it did, one line each, for a test to hold the monitor's log
// against: "pid PID listen PORT", then "<ordering> <established 0|1> <client
// port> <server port>" per connection, then "done". Before the churn it holds one marker
// connection open and waits for a line on its input, so the watcher can show
// it has started; the marker closes last.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

uint16_t PortOf(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

int Listener(int backlog) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = Loopback(0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
        std::perror("listener");
        std::exit(1);
    }
    return fd;
}

// A client socket, bound to `port` first when one is given (and reusable).
int Connect(uint16_t to, uint16_t port = 0, bool wait = true) {
    const int fd = socket(AF_INET, SOCK_STREAM | (wait ? 0 : SOCK_NONBLOCK), 0);
    if (port != 0) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in local = Loopback(port);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) std::perror("bind");
    }
    const sockaddr_in a = Loopback(to);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 && wait) std::perror("connect");
    return fd;
}

// Closing with a zero linger sends a reset.
void Reset(int fd) {
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd);
}

struct TPair {
    int Client;
    int Server;
};

TPair Open(int listener, uint16_t port = 0) {
    const int client = Connect(PortOf(listener), port);
    const int server = accept(listener, nullptr, nullptr);
    // Data both ways: both ends heard from the other.
    (void)!write(client, "q", 1);
    (void)!write(server, "a", 1);
    char byte;
    (void)!read(server, &byte, 1);
    (void)!read(client, &byte, 1);
    return {client, server};
}

void Record(const char* ordering, bool established, uint16_t clientPort, uint16_t serverPort) {
    std::cout << ordering << ' ' << established << ' ' << clientPort << ' ' << serverPort << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 6;
    const int listener = Listener(64);
    const uint16_t port = PortOf(listener);
    std::cout << "pid " << getpid() << " listen " << port << std::endl;
    const TPair marker = Open(listener);
    Record("marker", true, PortOf(marker.Client), port);
    std::string go;
    if (!std::getline(std::cin, go)) return 1;

    // A listener whose queue is full: its server drops further handshakes.
    const int full = Listener(0);
    std::vector<int> queued;
    // One connection fills a queue of length 0.
    queued.push_back(Connect(PortOf(full)));
    Record("queued", true, PortOf(queued.back()), PortOf(full));

    // Half of each round's connections close at once, half stay until the
    // next round, so some are listed by a refresh before they close.
    std::vector<std::pair<const char*, TPair>> held;
    const auto finish = [](const char* ordering, TPair p) {
        const std::string o = ordering;
        if (o == "client_close" || o == "reuse") {
            close(p.Client);
            close(p.Server);
        } else if (o == "server_close") {
            close(p.Server);
            close(p.Client);
        } else if (o == "client_reset") {
            Reset(p.Client);
            close(p.Server);
        } else {
            Reset(p.Server);
            close(p.Client);
        }
    };
    for (int round = 0; round < rounds; ++round) {
        for (auto& [ordering, p] : held) finish(ordering, p);
        held.clear();
        for (const char* ordering : {"client_close", "server_close", "client_reset", "server_reset"}) {
            for (int i = 0; i < 2; ++i) {
                const TPair p = Open(listener);
                Record(ordering, true, PortOf(p.Client), port);
                if (i == 0) finish(ordering, p);
                else held.emplace_back(ordering, p);
            }
        }
        // The same four ends again while the server's Time_Wait remnant of
        // the first lingers: a connection of its own.
        const TPair first = Open(listener);
        const uint16_t clientPort = PortOf(first.Client);
        Record("reuse", true, clientPort, port);
        close(first.Server);
        close(first.Client);
        const TPair again = Open(listener, clientPort);
        Record("reuse", true, clientPort, port);
        held.emplace_back("reuse", again);

        const int attempt = Connect(PortOf(full), 0, false);
        Record("unanswered", false, PortOf(attempt), PortOf(full));
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the pace of the churn, not a wait
        close(attempt);
    }
    for (auto& [ordering, p] : held) finish(ordering, p);
    for (const int fd : queued) close(fd);
    close(marker.Client);
    close(marker.Server);
    std::cout << "done" << std::endl;
    return 0;
}

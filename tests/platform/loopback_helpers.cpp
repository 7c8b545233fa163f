#include "loopback_helpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <type_traits>

namespace tarnwick::test {

namespace {

[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "test setup failed: %s: %s\n", what, std::strerror(errno));
    std::abort();
}

sockaddr_in Loopback(uint32_t hostAddress, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostAddress);
    address.sin_port = htons(port);
    return address;
}

sockaddr_in6 Address6(const char* text, uint16_t port) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    if (inet_pton(AF_INET6, text, &address.sin6_addr) != 1) Die("inet_pton");
    address.sin6_port = htons(port);
    return address;
}

// Only system calls from here on in a forked child: no allocation, no gtest.
int ChildListener() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(0x7F000001, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0) {
        return -1;
    }
    return fd;
}

}  // namespace

TUniqueFd TcpListener(uint32_t hostAddress) {
    TUniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) Die("socket");
    const sockaddr_in address = Loopback(hostAddress, 0);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) Die("bind");
    if (listen(fd.Get(), 16) != 0) Die("listen");
    return fd;
}

TUniqueFd UdpSocket() {
    TUniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) Die("socket");
    const sockaddr_in address = Loopback(0x7F000001, 0);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) Die("bind");
    return fd;
}

TUniqueFd TcpListener6(const char* address, bool v6Only) {
    TUniqueFd fd(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) Die("socket");
    const int only = v6Only ? 1 : 0;
    if (setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) != 0) Die("IPV6_V6ONLY");
    const sockaddr_in6 bound = Address6(address, 0);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) Die("bind");
    if (listen(fd.Get(), 16) != 0) Die("listen");
    return fd;
}

TUniqueFd UdpSocket6(const char* address) {
    TUniqueFd fd(socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) Die("socket");
    // Not IPv6-only, whatever the host's default, so that an IPv4-mapped address can be bound.
    const int only = 0;
    if (setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) != 0) Die("IPV6_V6ONLY");
    const sockaddr_in6 bound = Address6(address, 0);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) Die("bind");
    return fd;
}

uint16_t LocalPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) Die("getsockname");
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

TTcpConnection Connect(int listener, const char* address) {
    TTcpConnection connection;
    const bool v6 = std::strchr(address, ':') != nullptr;
    connection.Client = TUniqueFd(socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connection.Client.IsValid()) Die("socket");
    int connected = 0;
    if (v6) {
        const sockaddr_in6 to = Address6(address, LocalPort(listener));
        connected = connect(connection.Client.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } else {
        sockaddr_in to = Loopback(0, LocalPort(listener));
        if (inet_pton(AF_INET, address, &to.sin_addr) != 1) Die("inet_pton");
        connected = connect(connection.Client.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    if (connected != 0) Die("connect");
    connection.Server = TUniqueFd(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection.Server.IsValid()) Die("accept");
    connection.ClientPort = LocalPort(connection.Client.Get());
    connection.ServerPort = LocalPort(connection.Server.Get());
    return connection;
}

void SetResetOnClose(int fd) {
    const linger option{1, 0};
    if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option) != 0) Die("SO_LINGER");
}

namespace {

const TInetAddress kLoopback = TInetAddress::Ipv4(127, 0, 0, 1);
const TInetAddress kLoopback6 = TInetAddress::Ipv6(*ParseIp6("::1"));

template <typename TRow>
std::vector<TRow> FindAt(const std::vector<TRow>& rows, const TInetAddress& loopback, uint16_t localPort,
                         std::optional<uint16_t> remotePort) {
    std::vector<TRow> found;
    for (const TRow& row : rows) {
        if (row.LocalAddr != loopback || row.LocalPort != localPort) continue;
        if constexpr (std::is_same_v<TRow, TTcpRow>) {
            if (remotePort && (row.RemoteAddr != loopback || row.RemotePort != *remotePort)) continue;
        }
        found.push_back(row);
    }
    return found;
}

}  // namespace

std::vector<TTcpRow> FindTcp(const std::vector<TTcpRow>& rows, uint16_t localPort,
                             std::optional<uint16_t> remotePort) {
    return FindAt(rows, kLoopback, localPort, remotePort);
}

std::vector<TUdpRow> FindUdp(const std::vector<TUdpRow>& rows, uint16_t localPort) {
    return FindAt(rows, kLoopback, localPort, std::nullopt);
}

std::vector<TTcpRow> FindTcp6(const std::vector<TTcpRow>& rows, uint16_t localPort,
                              std::optional<uint16_t> remotePort) {
    return FindAt(rows, kLoopback6, localPort, remotePort);
}

std::vector<TUdpRow> FindUdp6(const std::vector<TUdpRow>& rows, uint16_t localPort) {
    return FindAt(rows, kLoopback6, localPort, std::nullopt);
}

TChild::TChild(TChild&& other) noexcept : Pid_(other.Pid_) { other.Pid_ = -1; }

TChild::~TChild() { KillAndReap(); }

void TChild::KillAndReap() {
    if (Pid_ <= 0) return;
    kill(Pid_, SIGKILL);
    while (waitpid(Pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    Pid_ = -1;
}

TChild ForkListenerChild(uint16_t& port) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) Die("pipe");
    const pid_t pid = fork();
    if (pid < 0) Die("fork");
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int listener = ChildListener();
        uint16_t childPort = 0;
        if (listener >= 0) {
            sockaddr_in address{};
            socklen_t length = sizeof address;
            if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
                childPort = ntohs(address.sin_port);
            }
        }
        if (write(report[1], &childPort, sizeof childPort) != sizeof childPort) _exit(1);
        for (;;) pause();
    }
    close(report[1]);
    TChild child(pid);
    ssize_t length;
    do {
        length = read(report[0], &port, sizeof port);
    } while (length < 0 && errno == EINTR);
    close(report[0]);
    if (length != sizeof port || port == 0) Die("child listener");
    return child;
}

TChild ForkExec(const char* path, const char* argv0, const char* argument) {
    const pid_t pid = fork();
    if (pid < 0) Die("fork");
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execl(path, argv0, argument, static_cast<char*>(nullptr));
        _exit(127);
    }
    return TChild(pid);
}

TChild ForkPausedChild() {
    const pid_t pid = fork();
    if (pid < 0) Die("fork");
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (;;) pause();
    }
    return TChild(pid);
}

bool RoomForDescriptors(rlim_t count) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    const rlim_t wanted = count + 256;
    if (limit.rlim_cur >= wanted) return true;
    limit.rlim_cur = wanted;
    // Raising the hard limit too takes CAP_SYS_RESOURCE; without it this fails.
    limit.rlim_max = std::max(limit.rlim_max, wanted);
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

TChild ForkExitingChild() {
    const pid_t pid = fork();
    if (pid < 0) Die("fork");
    if (pid == 0) _exit(0);
    return TChild(pid);
}

TTempDir::TTempDir() {
    char pattern[] = "/tmp/tarnwick-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) Die("mkdtemp");
    Path_ = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path_, ignored);
}

void TTempDir::MakeDir(const std::string& relative) const {
    std::filesystem::create_directories(Path_ + "/" + relative);
}

void TTempDir::MakeSymlink(const std::string& relative, const std::string& target) const {
    if (symlink(target.c_str(), (Path_ + "/" + relative).c_str()) != 0) Die("symlink");
}

void TTempDir::WriteFile(const std::string& relative, const std::string& content) const {
    std::ofstream(Path_ + "/" + relative, std::ios::binary) << content;
}

}  // namespace tarnwick::test

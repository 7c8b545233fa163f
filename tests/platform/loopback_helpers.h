// Sockets and processes for the platform tests: everything on loopback, made
// and owned by the test process (or its children), closed on scope exit.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ip_tables.h"
#include "platform/linux/unique_fd.h"

namespace tarnwick::test {

// Raises this process's soft descriptor limit, if need be, to leave room
// for `count` more descriptors than a test process keeps open anyway, and
// the hard limit with it when the process may. False when it cannot.
bool RoomForDescriptors(rlim_t count);

// A TCP listener on `address` (host order, default 127.0.0.1) with a
// kernel-chosen port. Aborts the test binary on failure (no loopback, no test).
TUniqueFd TcpListener(uint32_t address = 0x7F000001);
// A UDP socket bound to 127.0.0.1 with a kernel-chosen port.
TUniqueFd UdpSocket();
// The same on an IPv6 address (default ::1). `v6Only` false makes a
// dual-stack listener, which takes IPv4 connections too.
TUniqueFd TcpListener6(const char* address = "::1", bool v6Only = true);
TUniqueFd UdpSocket6(const char* address = "::1");
// The local port of a bound socket of either family, host order.
uint16_t LocalPort(int fd);

// An established loopback connection through `listener`.
struct TTcpConnection {
    TUniqueFd Client;
    TUniqueFd Server;
    uint16_t ClientPort = 0;
    uint16_t ServerPort = 0;
};
// `address` is the listener's address to connect to, IPv4 or IPv6 text.
TTcpConnection Connect(int listener, const char* address = "127.0.0.1");

// Makes the next close() of `fd` abort the connection with a RST.
void SetResetOnClose(int fd);

// The rows whose local end is 127.0.0.1:localPort (and remote end
// 127.0.0.1:remotePort when given).
std::vector<TTcpRow> FindTcp(const std::vector<TTcpRow>& rows, uint16_t localPort,
                             std::optional<uint16_t> remotePort = std::nullopt);
std::vector<TUdpRow> FindUdp(const std::vector<TUdpRow>& rows, uint16_t localPort);

// The same for the IPv6 rows, with ::1 for 127.0.0.1.
std::vector<TTcpRow> FindTcp6(const std::vector<TTcpRow>& rows, uint16_t localPort,
                              std::optional<uint16_t> remotePort = std::nullopt);
std::vector<TUdpRow> FindUdp6(const std::vector<TUdpRow>& rows, uint16_t localPort);

// A child process, killed and reaped when its owner goes.
class TChild {
public:
    explicit TChild(pid_t pid) : Pid_(pid) {}
    TChild(TChild&& other) noexcept;
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    TChild& operator=(TChild&&) = delete;
    ~TChild();

    pid_t Pid() const { return Pid_; }
    // Kills the child and waits for it to be gone.
    void KillAndReap();

private:
    pid_t Pid_ = -1;
};

// A child that opens a TCP listener on 127.0.0.1 and waits to be killed;
// `port` is the listener's port as the child reported it.
TChild ForkListenerChild(uint16_t& port);
// A child running `path` with `argv0` and `argument`.
TChild ForkExec(const char* path, const char* argv0, const char* argument);
// A child that does nothing until killed, holding copies of our descriptors.
TChild ForkPausedChild();
// A child that exits at once; it stays a zombie until its owner reaps it.
TChild ForkExitingChild();

// A scratch directory tree, removed with everything in it on destruction.
class TTempDir {
public:
    TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    ~TTempDir();

    const std::string& Path() const { return Path_; }
    // Creates `relative` and its missing parents.
    void MakeDir(const std::string& relative) const;
    void MakeSymlink(const std::string& relative, const std::string& target) const;
    void WriteFile(const std::string& relative, const std::string& content) const;

private:
    std::string Path_;
};

}  // namespace tarnwick::test

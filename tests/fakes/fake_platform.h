// Fakes of the platform interfaces: tables, processes and names set by the test.
#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/autostart.h"
#include "platform/connection_killer.h"
#include "platform/ended_connections.h"
#include "platform/ip_tables.h"
#include "platform/location_lookup.h"
#include "platform/name_lookup.h"
#include "platform/process_list.h"
#include "platform/program_launcher.h"
#include "platform/sound_player.h"

namespace tarnwick::testing {

// Tables as the test sets them: the IPv4 rows, then the IPv6 ones, as given
// (no sorting), and the failures to answer with instead.
class TFakeIpTables final : public TIpTables {
public:
    std::vector<TTcpRow> TcpRows;
    std::vector<TUdpRow> UdpRows;
    std::vector<TTcpRow> Tcp6Rows;
    std::vector<TUdpRow> Udp6Rows;
    std::optional<TFailure> TcpFailure;
    std::optional<TFailure> UdpFailure;
    // Whether the TCP table says its byte counters were read (the rows'
    // Traffic), whether asked for or not.
    bool TrafficRead = true;
    int Calls = 0;

    TResult<TTcpTable> FetchTcp(const TTableRequest& request) override;
    TResult<TUdpTable> FetchUdp(const TTableRequest& request) override;
};

class TFakeProcessList final : public TProcessList {
public:
    bool Readable = true;
    std::vector<TProcessEntry> Entries;
    TResult<std::vector<TProcessEntry>> TakeSnapshot() override {
        if (!Readable) return TFailure{EACCES, "listing the processes"};
        return Entries;
    }
};

class TFakeNameLookup final : public TNameLookup {
public:
    std::string Computer = "PC1";
    std::map<uint16_t, TServiceEntry> Services;
    std::map<uint32_t, std::string> Hosts;
    std::map<TIp6Address, std::string> Hosts6;
    std::vector<std::vector<uint32_t>> ResolveRequests;

    std::optional<TServiceEntry> ServiceByPort(uint16_t port) override {
        auto it = Services.find(port);
        if (it == Services.end()) return std::nullopt;
        return it->second;
    }
    void ResolveHosts(const std::vector<uint32_t>& addrs, std::chrono::milliseconds) override {
        ResolveRequests.push_back(addrs);
    }
    std::optional<std::string> HostByAddr(uint32_t addr) override {
        auto it = Hosts.find(addr);
        if (it == Hosts.end()) return std::nullopt;
        return it->second;
    }
    std::optional<std::string> HostByAddr6(const TIp6Address& addr) override {
        auto it = Hosts6.find(addr);
        if (it == Hosts6.end()) return std::nullopt;
        return it->second;
    }
    std::string ComputerName() override { return Computer; }
};

// Ended connections handed out as the test sets them, one take at a time.
class TFakeEndedConnections final : public TEndedConnections {
public:
    TEndedTake Next;  // what the next take returns; empty again after it
    bool Active() const override { return true; }
    TEndedTake TakeEnded() override { return std::exchange(Next, TEndedTake{}); }
};

// Kills, launches and sounds, recorded instead of done.
class TRecordingKiller final : public TConnectionKiller {
public:
    std::optional<TFailure> Refusal;
    std::vector<TTcpRow> Killed;
    std::function<void()> OnKill;  // runs at each kill, before its answer
    TStatus KillTcp(const TTcpRow& row) override {
        if (OnKill) OnKill();
        if (Refusal) return *Refusal;
        Killed.push_back(row);
        return {};
    }
};
class TRecordingLauncher final : public TProgramLauncher {
public:
    std::vector<std::string> Launched;
    TStatus Launch(const std::string& path) override {
        Launched.push_back(path);
        return {};
    }
};
class TRecordingSound final : public TSoundPlayer {
public:
    std::vector<std::string> Played;
    void Play(const std::string& path) override { Played.push_back(path); }
};

class TRecordingAutostart final : public TAutostart {
public:
    std::optional<TFailure> Refusal;
    std::vector<std::string> Calls;
    TStatus Enable(const std::string& name, const std::string& path) override {
        Calls.push_back("enable " + name + " " + path);
        if (Refusal) return *Refusal;
        return {};
    }
    void Disable(const std::string& name) override { Calls.push_back("disable " + name); }
};

// A location database as the test sets it, opened through Opener() as often
// as the code under test opens it. The look-ups run on whatever thread the
// code uses, so everything here is behind a lock.
class TFakeLocationDatabase {
public:
    void Set(const TInetAddress& address, TLocation location) {
        std::lock_guard lock(State_->Mutex);
        State_->Locations[address] = std::move(location);
    }
    // Makes the next openings fail.
    void Fail(TFailure failure) {
        std::lock_guard lock(State_->Mutex);
        State_->Failure = std::move(failure);
    }
    // Puts a new file in place: look-ups opened before say they were replaced.
    void Replace() {
        std::lock_guard lock(State_->Mutex);
        ++State_->Generation;
    }
    int Opens() const {
        std::lock_guard lock(State_->Mutex);
        return State_->Opens;
    }
    // Every address looked up, in order.
    std::vector<TInetAddress> Asked() const {
        std::lock_guard lock(State_->Mutex);
        return State_->Asked;
    }
    TLocationOpener Opener();

private:
    struct TState {
        mutable std::mutex Mutex;
        std::map<TInetAddress, TLocation> Locations;
        std::optional<TFailure> Failure;
        std::vector<TInetAddress> Asked;
        int Opens = 0;
        int Generation = 0;
    };
    std::shared_ptr<TState> State_ = std::make_shared<TState>();
};

// Shorthands for rows and addresses.
inline constexpr TInetAddress Ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return TInetAddress::Ipv4(a, b, c, d); }
TTcpRow TcpRow(TTcpState state, TInetAddress localAddr, uint16_t localPort, TInetAddress remoteAddr,
               uint16_t remotePort, uint32_t pid = 0);
TUdpRow UdpRow(TInetAddress localAddr, uint16_t localPort, uint32_t pid = 0);
// Rows of the IPv6 tables, their addresses in any IPv6 text form.
TTcpRow Tcp6Row(TTcpState state, const char* localAddr, uint16_t localPort, const char* remoteAddr,
                uint16_t remotePort, uint32_t pid = 0);
TUdpRow Udp6Row(const char* localAddr, uint16_t localPort, uint32_t pid = 0);

}  // namespace tarnwick::testing

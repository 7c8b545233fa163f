// A main window over fake platform services, with answerable message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QTest>

#include <atomic>
#include <map>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "fakes/fake_packet_source.h"
#include "fakes/fake_platform.h"
#ifdef _WIN32
#include "platform/pipe_wakeup.h"
#else
#include "platform/linux/eventfd_wakeup.h"
#endif
#include "ui/scripted_boxes.h"
#include "ui/connection_grid_model.h"
#include "ui/main_form.h"

namespace tarnwick::testing {

// The wake-up each system's window is given (see app/main_services_*.h).
#ifdef _WIN32
using TWindowWakeup = TPipeWakeup;
#else
using TWindowWakeup = TEventFdWakeup;
#endif

// A point where a refresh's thread can be held, to keep a refresh running there.
class THoldPoint {
public:
    void Hold() {
        std::lock_guard lock(Mutex_);
        Held_ = true;
    }
    void Release() {
        std::lock_guard lock(Mutex_);
        Held_ = false;
        Changed_.notify_all();
    }
    // Whether a thread is waiting here now.
    bool Holding() {
        std::lock_guard lock(Mutex_);
        return Waiting_;
    }
    void Pass() {
        std::unique_lock lock(Mutex_);
        Waiting_ = Held_;
        Changed_.wait(lock, [this] { return !Held_; });
        Waiting_ = false;
    }

private:
    std::mutex Mutex_;
    std::condition_variable Changed_;
    bool Held_ = false;
    bool Waiting_ = false;
};

// Fake tables whose fetch can be held, to keep a refresh running.
class THoldableIpTables final : public TIpTables, public THoldPoint {
public:
    TFakeIpTables Tables;
    std::atomic<int> Fetches{0};

    TResult<TTcpTable> FetchTcp(const TTableRequest& request) override {
        ++Fetches;
        Pass();
        return Tables.FetchTcp(request);
    }
    TResult<TUdpTable> FetchUdp(const TTableRequest& request) override { return Tables.FetchUdp(request); }
};

// Name lookups that can be held: a refresh held there has replaced the
// tables but not yet given the grid its rows, as during slow lookups.
class THoldableNameLookup final : public TNameLookup, public THoldPoint {
public:
    TFakeNameLookup Names;
    std::optional<TServiceEntry> ServiceByPort(uint16_t port) override { return Names.ServiceByPort(port); }
    void ResolveHosts(const std::vector<uint32_t>& addrs, std::chrono::milliseconds budget) override {
        Pass();
        Names.ResolveHosts(addrs, budget);
    }
    std::optional<std::string> HostByAddr(uint32_t addr) override { return Names.HostByAddr(addr); }
    std::string ComputerName() override { return Names.ComputerName(); }
};

// Process list that tells when a fetch has got this far (the end of the table fetch).
class TSignallingProcessList final : public TProcessList {
public:
    TFakeProcessList Processes;
    std::atomic<int> Snapshots{0};
    TResult<std::vector<TProcessEntry>> TakeSnapshot() override {
        ++Snapshots;
        return Processes.TakeSnapshot();
    }
};

class MainFormFixture : public ::testing::Test {
protected:
    void SetUp() override {
        Tables.Tables.TcpRows = {TcpRow(TTcpState::Listening, {}, 8080, {}, 0, 10),
                                 TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 40000, Ipv4(10, 0, 0, 5), 443, 10)};
        Tables.Tables.UdpRows = {UdpRow({}, 6000, 10), UdpRow({}, 6001, 10), UdpRow({}, 6002, 10)};
        Processes.Processes.Entries = {{10, "client"}};
    }
    void TearDown() override {
        Tables.Release();
        Names.Release();
        if (Form) {
            Boxes.Answers = {true};
            Form->close();
        }
    }

    // One window at a time, as in the program: the old one goes first. (On
    // Windows a socket has one notifier at a time, and the old window's
    // going would take the new one's wake-ups.)
    TMain_F& Create() {
        Form.reset();
        Form = std::make_unique<TMain_F>(Services());
        return *Form;
    }
    TMainServices Services(std::function<TStatus()> probe = nullptr) {
        return TMainServices{Tables,        Processes, Names, Boxes, Killer, Launcher, Sound, Autostart, Packets,
                             ExecutableDir, ExecutableDir + "/tarnwick", {ExecutableDir, ExecutableDir}, probe,
                             [this](uint32_t pid) -> TResult<std::string> {
                                 AskedPids.push_back(pid);
                                 if (!ExePaths.contains(pid)) return TFailure{ENOENT, "reading a gone process"};
                                 return ExePaths[pid];
                             },
                             [](const std::string&) { return TProcessInfoFields{}; },
                             Wakeup,
                             &Ended,
                             nullptr};
    }
    // Runs the event loop until `count` refreshes have completed in all.
    bool WaitForRefreshes(int count) {
        return QTest::qWaitFor([&] { return Form->CompletedRefreshes() >= count; }, 5000);
    }
    const TConnectionRow& GridRow(int row) { return Form->GridModel().Rows().Row(row); }

    THoldableIpTables Tables;
    TSignallingProcessList Processes;
    THoldableNameLookup Names;
    TScriptedBoxes Boxes;
    TRecordingKiller Killer;
    TRecordingLauncher Launcher;
    TRecordingSound Sound;
    TRecordingAutostart Autostart;
    TFakePacketSource Packets;
    TWindowWakeup Wakeup;
    TFakeEndedConnections Ended;  // set between refreshes only
    std::map<uint32_t, std::string> ExePaths;  // what the process list says of each pid
    std::vector<uint32_t> AskedPids;           // whose executable the window asked for
    std::string ExecutableDir = "/nonexistent-tarnwick-folder";
    std::unique_ptr<TMain_F> Form;
};

}  // namespace tarnwick::testing

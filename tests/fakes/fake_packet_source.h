// A packet source for tests: each capture is a queue of packets the test
// pushes, with an eventfd (on Windows, where only sockets poll, a wake-up's
// socket pair) that polls readable while packets wait. Every
// capture ever opened stays visible through its shared state, which records
// how often its descriptor was closed. Pushing, Waiting and the capture's
// reads and counters take the state's lock, so a test may push while another
// thread reads.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/packet_source.h"
#ifdef _WIN32
#include "platform/pipe_wakeup.h"
#endif

namespace tarnwick::testing {

using TBytes = std::vector<uint8_t>;

// An IPv4 packet of `protocol` from source to dest, with TCP/UDP ports (or
// ICMP type and code) and the payload after the headers the parser counts.
inline TBytes MakeIpPacket(uint8_t protocol, const uint8_t (&source)[4], const uint8_t (&dest)[4], uint16_t sourcePort,
                           uint16_t destPort, const TBytes& payload) {
    size_t transport = 0;
    if (protocol == 6) transport = 20;
    if (protocol == 17) transport = 8;
    if (protocol == 1) transport = 8;
    // Sized first and written in place: inserting into a growing vector
    // trips a false array-bounds warning of GCC 12 at -O3.
    TBytes bytes(20 + transport + payload.size(), 0);
    bytes[0] = 0x45;
    bytes[2] = static_cast<uint8_t>(bytes.size() >> 8);  // total length
    bytes[3] = static_cast<uint8_t>(bytes.size());
    bytes[8] = 64;
    bytes[9] = protocol;
    std::copy(source, source + 4, bytes.begin() + 12);
    std::copy(dest, dest + 4, bytes.begin() + 16);
    uint8_t* header = bytes.data() + 20;
    if (protocol == 6 || protocol == 17) {
        header[0] = static_cast<uint8_t>(sourcePort >> 8);
        header[1] = static_cast<uint8_t>(sourcePort);
        header[2] = static_cast<uint8_t>(destPort >> 8);
        header[3] = static_cast<uint8_t>(destPort);
        if (protocol == 17) {  // the UDP length
            header[4] = static_cast<uint8_t>((transport + payload.size()) >> 8);
            header[5] = static_cast<uint8_t>(transport + payload.size());
        }
    } else if (protocol == 1) {
        header[0] = static_cast<uint8_t>(sourcePort);
        header[1] = static_cast<uint8_t>(destPort);
    }
    std::copy(payload.begin(), payload.end(), bytes.begin() + static_cast<std::ptrdiff_t>(20 + transport));
    return bytes;
}

inline TBytes MakeUdpPacket(uint16_t sourcePort, uint16_t destPort, const std::string& payload) {
    return MakeIpPacket(17, {10, 0, 0, 1}, {10, 0, 0, 2}, sourcePort, destPort, TBytes(payload.begin(), payload.end()));
}

// A packet waiting in a fake capture, with the time stamp it is handed over with.
struct TFakePacket {
    TBytes Bytes;
    uint64_t TimeNs = 0;
};

// What a test sees of one capture, also after the capture is gone.
struct TFakeCaptureState {
    std::string Address;
    std::string Name = "fake0";
    int Fd = -1;
    int Closes = 0;  // times the descriptor was closed
    std::deque<TFakePacket> Queue;
    std::optional<std::string> NextError;  // returned by the next read
    int Reads = 0;
    TCaptureStats Stats;
#ifdef _WIN32
    std::unique_ptr<TPipeWakeup> Pair;  // whose reading end is Fd
#endif

    mutable std::mutex Lock;

    bool Open() const { return Closes == 0; }
    void Push(TBytes packet, uint64_t timeNs = 0) {
        const std::lock_guard lock(Lock);
        Queue.push_back({std::move(packet), timeNs});
        Signal();
    }
    void FailNextRead(std::string error) {
        const std::lock_guard lock(Lock);
        NextError = std::move(error);
        Signal();
    }
#ifndef _WIN32
    // From now on the descriptor polls hung up, as a capture's whose
    // interface went away: it becomes a pipe's read end without a writer
    // (the number stays, and is closed once as ever). Windows has no way to
    // put another socket under the same number.
    void HangUp() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        ::close(ends[1]);
        ::dup2(ends[0], Fd);
        ::close(ends[0]);
    }
#endif
    // Packets pushed and not read yet.
    size_t Waiting() const {
        const std::lock_guard lock(Lock);
        return Queue.size();
    }
    void Signal() const {
        if (!Open()) return;
#ifdef _WIN32
        Pair->Signal();
#else
        const uint64_t one = 1;
        (void)!::write(Fd, &one, sizeof one);
#endif
    }
    void Drain() const {
#ifdef _WIN32
        Pair->Clear();
#else
        uint64_t count = 0;
        (void)!::read(Fd, &count, sizeof count);
#endif
    }
};

class TFakePacketCapture final : public TPacketCapture {
public:
    explicit TFakePacketCapture(std::shared_ptr<TFakeCaptureState> state) : State_(std::move(state)) {
#ifdef _WIN32
        State_->Pair = std::make_unique<TPipeWakeup>();
        State_->Fd = State_->Pair->Fd();
#else
        State_->Fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#endif
    }
    ~TFakePacketCapture() override {
#ifdef _WIN32
        State_->Pair.reset();
#else
        ::close(State_->Fd);
#endif
        ++State_->Closes;
    }
    const std::string& LocalAddress() const override { return State_->Address; }
    const std::string& InterfaceName() const override { return State_->Name; }
    int SelectableFd() const override { return State_->Fd; }
    TStatus ReadPackets(const TOnPacket& onPacket, int maxPackets) override {
        // Released while the packet is handed on, as a real capture's reader
        // holds nothing the pushing side waits for.
        std::unique_lock lock(State_->Lock);
        ++State_->Reads;
        if (State_->NextError) {
            auto error = std::move(State_->NextError);
            State_->NextError.reset();
            if (State_->Queue.empty()) State_->Drain();
            return TFailure{0, *error};
        }
        for (int n = 0; n < maxPackets && !State_->Queue.empty(); ++n) {
            // A copy of exactly the packet's length, so AddressSanitizer sees reads beyond it.
            const TFakePacket packet = std::move(State_->Queue.front());
            State_->Queue.pop_front();
            ++State_->Stats.Received;
            std::unique_ptr<uint8_t[]> buffer(new uint8_t[packet.Bytes.empty() ? 1 : packet.Bytes.size()]);
            std::copy(packet.Bytes.begin(), packet.Bytes.end(), buffer.get());
            lock.unlock();
            onPacket(buffer.get(), packet.Bytes.size(), packet.TimeNs);
            lock.lock();
        }
        if (State_->Queue.empty()) State_->Drain();
        return {};
    }
    TCaptureStats Stats() override {
        const std::lock_guard lock(State_->Lock);
        return State_->Stats;
    }

private:
    std::shared_ptr<TFakeCaptureState> State_;
};

class TFakePacketSource final : public TPacketSource {
public:
    // Interfaces the next OpenCaptures finds; `Failing` ones are reported and skipped.
    std::vector<std::string> Addresses{"10.0.0.1"};
    std::vector<std::string> Failing;
    // When set, OpenCaptures fails with this text.
    std::optional<std::string> Refusal;

    std::vector<std::shared_ptr<TFakeCaptureState>> Opened;  // every capture ever opened
    int OpenCalls = 0;

    TResult<TPacketCaptures> OpenCaptures(const std::function<void(const TFailure&)>& onError) override {
        ++OpenCalls;
        if (Refusal) return TFailure{0, *Refusal};
        TPacketCaptures captures;
        for (const std::string& address : Failing) onError(TFailure{0, address + ": Operation not permitted"});
        for (const std::string& address : Addresses) {
            auto state = std::make_shared<TFakeCaptureState>();
            state->Address = address;
            captures.push_back(std::make_unique<TFakePacketCapture>(state));
            Opened.push_back(std::move(state));
        }
        return captures;
    }

    // The capture opened last for `address`.
    TFakeCaptureState& Latest(size_t index = 0) { return *Opened.at(Opened.size() - Addresses.size() + index); }
};

}  // namespace tarnwick::testing

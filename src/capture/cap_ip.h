// Tcap_ip: captures the IPv4 and IPv6 packets through every local address and
// hands each one to its owner, split into protocol, addresses, ports, header and
// payload (OnCap). One capture per interface comes from the packet source;
// the owner watches each capture's selectable descriptor and calls
// ReadPacket(i) when it polls readable. Everything runs on the owner's thread.
//
// Lifetime rules that keep notifications safe:
//   - A capture's descriptor belongs to the capture and is closed exactly once,
//     when StopCapture (or the destructor) drops the capture; closed captures
//     are forgotten, so nothing closes them again.
//   - The owner removes its watchers of the descriptors before it calls
//     StopCapture or destroys the component (OnClosing tells it when
//     StopCapture is about to close them), and ReadPacket with an index of a
//     capture that is gone does nothing.
//   - StopCapture called from inside OnCap closes the captures only when the
//     read in progress has returned, and no further packet of that read is
//     reported.
//
// Exceptions of the owner's callbacks go on to the caller, the component
// restored first: when OnCap throws, the read ends (the packets after it wait
// for the next read), a stop it asked for is carried out, and reading,
// stopping and starting work as before. When OnClosing throws, the captures
// are closed all the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/packet_parser.h"
#include "common/result.h"
#include "platform/packet_source.h"

namespace tarnwick {

// Reported through OnError (its Context) when the source finds no interface
// to capture on.
inline constexpr const char* kNoLocalAddressError = "没有找到可绑定的IP!";

class Tcap_ip {
public:
    enum class TState {
        Created,    // never started successfully
        Capturing,  // captures open, packets reported
        Paused,     // captures open, packets read and dropped
        Stopped,    // captures closed
    };

    // One packet; its Header and Data point into a buffer valid only during the call.
    using TOnCap = std::function<void(const TCapturedPacket& packet)>;
    using TOnError = std::function<void(const TFailure& failure)>;

    explicit Tcap_ip(TPacketSource& source);
    ~Tcap_ip();
    Tcap_ip(const Tcap_ip&) = delete;
    Tcap_ip& operator=(const Tcap_ip&) = delete;

    // Opens one capture per local address. Fails with the source's failure
    // when no capture is possible at all, and changes nothing then.
    // Interfaces that fail on their own are reported through OnError; no
    // interface at all gives OnError(kNoLocalAddressError) and no capture.
    // While captures are open this does nothing.
    TStatus StartCapture();
    // Toggles Paused, but only once started with at least one open capture.
    void PauseCapture();
    // Closes every open capture, in index order. Paused stays as it is.
    void StopCapture();

    // Reads the packets waiting on capture `index` (at most `maxPackets`),
    // reporting each through OnCap unless paused. A read error goes to
    // OnError and the capture goes on. An index with no open capture does nothing.
    void ReadPacket(size_t index, int maxPackets = kDefaultReadBatch);

    TState State() const;
    bool Paused() const { return Paused_; }
    bool Initialized() const { return Initialized_; }

    // The open captures.
    size_t Captures() const { return Captures_.size(); }
    int SelectableFd(size_t index) const;
    const std::string& LocalAddress(size_t index) const;
    // The interface names of the open captures, in index order.
    std::vector<std::string> InterfaceNames() const;

    // Totals over every capture this component opened, open or closed.
    TCaptureStats Stats() const;

    TOnCap OnCap;
    TOnError OnError;
    // Called by StopCapture right before open captures are closed: the last
    // moment to remove watchers of their descriptors. The destructor does not
    // call it (the owner is being torn down): remove watchers before that.
    std::function<void()> OnClosing;

    static constexpr int kDefaultReadBatch = 64;

private:
    void CloseCaptures(bool tellOwner);
    void ReleaseCaptures();
    void CloseIfRequested();
    void ReportError(const TFailure& failure) const;

    TPacketSource& Source_;
    TPacketCaptures Captures_;
    TCaptureStats ClosedStats_;
    bool Initialized_ = false;
    bool Open_ = false;  // started and not stopped since
    bool Paused_ = false;
    bool Reading_ = false;        // inside ReadPacket
    bool CloseRequested_ = false;  // StopCapture ran during a read
};

}  // namespace tarnwick

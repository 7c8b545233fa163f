// Captures of the machine's IPv4 and IPv6 traffic: one capture per interface
// that is up and carries an address, each handing over whole IP packets with
// the link-layer header already stripped, so that the IP header comes first.
// What a capture hands over is an IP packet whatever the interface's link
// type, so a recording of it needs no link type from the capture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"

namespace tarnwick {

struct TCaptureStats {
    uint64_t Received = 0;  // packets the kernel handed to this capture
    uint64_t Dropped = 0;   // packets lost for want of buffer space
};

class TPacketCapture {
public:
    virtual ~TPacketCapture() = default;

    // The interface's IPv4 address in dotted decimal; for an interface
    // without one, its IPv6 address in RFC 5952 form.
    virtual const std::string& LocalAddress() const = 0;

    // The interface's name ("lo", "eth0").
    virtual const std::string& InterfaceName() const = 0;

    // A descriptor that polls readable when packets wait (watch it with
    // poll or a socket notifier); it stays owned by the capture.
    virtual int SelectableFd() const = 0;

    // A packet's bytes, its length, and when the kernel took it (its own
    // time stamp, in nanoseconds since the epoch).
    using TOnPacket = std::function<void(const uint8_t* bytes, size_t length, uint64_t timeNs)>;

    // Takes the waiting packets without blocking, at most `maxPackets`, and
    // calls `onPacket` with each IPv4 or IPv6 packet (IP header first; other
    // protocols are skipped). The bytes are valid only during the call.
    // Fails when reading failed; the packets handed over before stay handed
    // over. Exceptions of `onPacket` go on to the caller.
    virtual TStatus ReadPackets(const TOnPacket& onPacket, int maxPackets) = 0;

    virtual TCaptureStats Stats() = 0;
};

using TPacketCaptures = std::vector<std::unique_ptr<TPacketCapture>>;

class TPacketSource {
public:
    virtual ~TPacketSource() = default;

    // Opens one capture per up interface with an address, at most 20.
    // An interface that cannot be opened is reported through `onError` and
    // skipped. Fails, reporting nothing through `onError`, when no capture
    // can be opened at all for lack of privilege or library support, or
    // when the interfaces cannot be listed.
    virtual TResult<TPacketCaptures> OpenCaptures(const std::function<void(const TFailure&)>& onError) = 0;
};

}  // namespace tarnwick

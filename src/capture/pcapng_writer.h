// A capture file in the pcapng format (the IETF pcapng draft; what tcpdump,
// tshark and Wireshark read), written as a capture goes: one section, an
// interface block per interface (its name, link type BSD loopback, time
// stamps in nanoseconds) and an enhanced packet block per packet with the
// whole IP packet behind its address family and, when there is one, a
// comment.
//
// Blocks are built whole in a buffer and go to the file at Flush. A write that
// fails midway (a full disk) leaves the file cut back to the last whole block
// that reached it, so that it reads to its last whole packet; a file that
// cannot be cut (a pipe) keeps what went, and its reader sees the last block
// cut short. After a failure nothing more is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/record_file.h"

namespace tarnwick {

class TPcapngWriter {
public:
    // Starts the file with its section header (buffered).
    explicit TPcapngWriter(TRecordFile& file);

    // Adds the interface block of `name`; its number for AddPacket (0, 1, ...).
    uint32_t AddInterface(std::string_view name);
    // Adds the block of `packet`, taken on interface `interface` at `timeNs`
    // (nanoseconds since the epoch), with `comment` unless it is empty.
    void AddPacket(uint32_t interface, uint64_t timeNs, std::span<const uint8_t> packet, std::string_view comment);

    // Bytes waiting for Flush.
    size_t Buffered() const { return Buffer_.size(); }
    // Writes what waits. Fails when the file failed, now or before.
    TStatus Flush();
    // Packets whole in the file.
    uint64_t PacketsWritten() const { return Packets_; }

private:
    TRecordFile& File_;
    std::vector<uint8_t> Buffer_;
    uint64_t FileSize_ = 0;  // bytes of whole blocks in the file
    uint64_t Packets_ = 0;
    uint32_t Interfaces_ = 0;
    std::optional<TFailure> Failure_;
};

}  // namespace tarnwick

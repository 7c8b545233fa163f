// TCaptureRecorder: the packets a capture lists, recorded into a pcapng file
// (TPcapngWriter), each with the owner of its connection as its comment.
//
// Writes are buffered: the buffer goes to the file when it holds kFlushSize
// bytes, at FlushIfDue once it has waited kFlushInterval, and at Finish. The
// first failure of the file ends the recording (said once, by the call that
// met it); what the file holds then ends with its last whole packet, and
// later packets are dropped.
//
// Record and FlushIfDue run on the thread that reads the captures.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "capture/packet_owner.h"
#include "capture/packet_parser.h"
#include "capture/pcapng_writer.h"
#include "common/result.h"
#include "platform/record_file.h"

namespace tarnwick {

class TCaptureRecorder {
public:
    static constexpr size_t kFlushSize = 256 * 1024;
    static constexpr std::chrono::milliseconds kFlushInterval{200};

    // Records into `file`, an interface block for each of `interfaces` (the
    // names of the open captures) first. `owners` names the owner of each
    // packet's connection; without it packets carry no comment.
    TCaptureRecorder(std::unique_ptr<TRecordFile> file, const std::vector<std::string>& interfaces,
                     TPacketOwnerLookup owners);
    // Writes out what waits; a failure then is lost (Finish reports it).
    ~TCaptureRecorder();
    TCaptureRecorder(const TCaptureRecorder&) = delete;
    TCaptureRecorder& operator=(const TCaptureRecorder&) = delete;

    // Adds `packet` (the whole IP packet, from its Header). Fails only when
    // the file fails in this call.
    TStatus Record(const TCapturedPacket& packet);
    // Writes out what has waited kFlushInterval or longer. Fails only when
    // the file fails in this call.
    TStatus FlushIfDue();
    // Writes out what waits. Fails when the file failed, now or before.
    TStatus Finish();

    const std::string& FileName() const { return File_->Name(); }
    // Packets whole in the file.
    uint64_t PacketsRecorded() const { return Writer_.PacketsWritten(); }

private:
    uint32_t InterfaceOf(std::string_view name);
    TStatus Flush();

    std::unique_ptr<TRecordFile> File_;
    TPcapngWriter Writer_;
    TPacketOwnerLookup Owners_;
    std::vector<std::string> Interfaces_;  // by their number in the file
    uint32_t LastInterface_ = 0;
    std::chrono::steady_clock::time_point LastFlush_;
    bool Failed_ = false;
};

}  // namespace tarnwick

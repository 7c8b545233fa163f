// The platform services that need a privilege, done through tarnwick-helper
// for a process that lacks it. Each says what is missing, and how to get
// it, when the helper cannot be used.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/connection_killer.h"
#include "platform/linux/helper_client.h"
#include "platform/linux/socket_owners.h"
#include "platform/packet_source.h"
#include "platform/process_list.h"

namespace tarnwick {

class THelperConnectionKiller final : public TConnectionKiller {
public:
    explicit THelperConnectionKiller(THelperClient& helper) : Helper_(helper) {}

    // Whether connections can be closed through the helper: fails, without
    // errno, when it cannot be started or lacks CAP_NET_ADMIN.
    TStatus Available();
    TStatus KillTcp(const TTcpRow& row) override;

private:
    THelperClient& Helper_;
};

// The owners of sockets, from the helper, which reads every process's
// descriptors. It is asked for the sockets wanted, however many (a request
// of several messages), and keeps what it found from one request to the
// next (TSocketOwnerCache); only beyond kMaxOwnerInodes, for every socket (a
// full scan). When it cannot be used, this process's own view of /proc (its
// own processes' sockets), and Available says why; when it was stopped for
// failing an exchange (Health), the same view, with the failure for the
// program to report.
class THelperSocketOwners final : public TSocketOwnerSource {
public:
    explicit THelperSocketOwners(THelperClient& helper) : Helper_(helper) {}

    TSocketOwners FindOwners(const std::vector<uint64_t>& inodes) override;
    // Whether the last look had the helper: fails, without errno, with why
    // it cannot be used here.
    TStatus Available();
    // Fails once the helper failed a look for owners, as THelperClient::Health
    // says; once failed, it is not asked again.
    TStatus Health();
    // The process names the helper reported with the last look, by pid.
    std::map<uint32_t, std::string> OwnerNames();

private:
    THelperClient& Helper_;
    std::mutex Mutex_;
    TSocketOwnerCache OwnView_;
    std::optional<TFailure> Unavailable_;
    std::optional<TFailure> Failure_;
    std::map<uint32_t, std::string> Names_;
};

// A process list whose names of socket owners are the helper's: another
// user's process shows its executable's name here too, which this process
// may not read itself (only the shorter command name).
class THelperProcessList final : public TProcessList {
public:
    THelperProcessList(TProcessList& processes, THelperSocketOwners& owners)
        : Processes_(processes), Owners_(owners) {}
    TResult<std::vector<TProcessEntry>> TakeSnapshot() override;

private:
    TProcessList& Processes_;
    THelperSocketOwners& Owners_;
};

// Captures that the helper reads and forwards (see forwarded_capture.h); the
// interfaces are chosen here.
class THelperPacketSource final : public TPacketSource {
public:
    explicit THelperPacketSource(THelperClient& helper) : Helper_(helper) {}

    // Whether captures can be asked of the helper: fails, without errno, with
    // why not.
    TStatus Available();
    // As TPcapPacketSource::OpenCaptures; fails as Available does, or when
    // every interface failed for want of the privilege.
    TResult<TPacketCaptures> OpenCaptures(const std::function<void(const TFailure&)>& onError) override;

private:
    THelperClient& Helper_;
};

}  // namespace tarnwick

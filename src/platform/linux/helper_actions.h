// What tarnwick-helper does for a valid request, each with only the
// capability it needs raised, and only around the call that needs it.
#pragma once

#include <sys/types.h>

#include <vector>

#include "platform/linux/helper_audit.h"
#include "platform/linux/helper_server.h"
#include "platform/linux/socket_owners.h"

namespace tarnwick {

class TLinuxHelperActions final : public THelperActions {
public:
    // Every connection closed is recorded in `audit`.
    explicit TLinuxHelperActions(THelperAudit& audit) : Audit_(audit) {}

    // The abilities of the capabilities this process may raise.
    uint32_t Abilities() override;
    // TLinuxConnectionKiller, established connections only, with CAP_NET_ADMIN;
    // recorded once closed.
    TStatus KillTcp(const TTcpRow& row) override;
    // socket(AF_PACKET, SOCK_DGRAM, 0) with CAP_NET_RAW (protocol 0 hooks it
    // nowhere until it is bound), set up as a TCaptureRing of the interface
    // and read by a forwarder of its own (StartCaptureForwarder). At most
    // kMaxCaptureForwarders run at once (EBUSY beyond): each is a process
    // and a ring of kernel memory, which a caller must not ask for without end.
    TResult<TUniqueFd> OpenCapture(uint32_t interfaceIndex) override;
    // With CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE: the sockets named are
    // looked for through a TSocketOwnerCache kept across requests, every
    // socket by a full /proc scan; the names read as TLinuxProcessList reads
    // them.
    std::vector<THelperOwner> SocketOwners(const std::vector<uint64_t>& inodes) override;

    // Far more than the interfaces a program captures (at most 20 each).
    static constexpr size_t kMaxCaptureForwarders = 64;

private:
    THelperAudit& Audit_;
    TSocketOwnerCache Owners_;
    std::vector<pid_t> Forwarders_;  // some may have ended
};

}  // namespace tarnwick

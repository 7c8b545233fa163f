// What tarnwick-helper does for a valid request, each with only the
// capability it needs raised, and only around the call that needs it.
#pragma once

#include "platform/linux/helper_server.h"
#include "platform/linux/socket_owners.h"

namespace tarnwick {

class TLinuxHelperActions final : public THelperActions {
public:
    // The abilities of the capabilities this process may raise.
    uint32_t Abilities() override;
    // TLinuxConnectionKiller, established connections only, with CAP_NET_ADMIN.
    std::optional<std::string> KillTcp(const TTcpRow& row) override;
    // socket(AF_PACKET, SOCK_DGRAM, 0) with CAP_NET_RAW (protocol 0 hooks it
    // nowhere until it is bound), set up as a TCaptureRing of the interface
    // and read by a forwarder of its own (StartCaptureForwarder).
    TUniqueFd OpenCapture(uint32_t interfaceIndex, int& error) override;
    // With CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE: the sockets named are
    // looked for through a TSocketOwnerCache kept across requests, every
    // socket by a full /proc scan; the names read as TLinuxProcessList reads
    // them.
    std::vector<THelperOwner> SocketOwners(const std::vector<uint64_t>& inodes) override;

private:
    TSocketOwnerCache Owners_;
};

}  // namespace tarnwick

// What tarnwick-helper does for a valid request, each with only the
// capability it needs raised, and only around the call that needs it.
#pragma once

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
    std::optional<std::string> KillTcp(const TTcpRow& row) override;
    // socket(AF_PACKET, SOCK_DGRAM, 0) with CAP_NET_RAW. Protocol 0 hooks the
    // socket nowhere: it receives nothing until the program has set it up
    // (its filter and ring) and binds it to an interface and protocol.
    TUniqueFd OpenPacketSocket(int& error) override;
    // With CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE: the sockets named are
    // looked for through a TSocketOwnerCache kept across requests, every
    // socket by a full /proc scan; the names read as TLinuxProcessList reads
    // them.
    std::vector<THelperOwner> SocketOwners(const std::vector<uint64_t>& inodes) override;

private:
    THelperAudit& Audit_;
    TSocketOwnerCache Owners_;
};

}  // namespace tarnwick

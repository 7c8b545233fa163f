// The serving loop of tarnwick-helper: reads requests from its end of the
// socket pair (see helper_protocol.h), checks each, has `THelperActions` do
// what a valid one asks and answers it, until the program that started it
// goes away.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/ip_tables.h"
#include "platform/linux/helper_protocol.h"
#include "platform/linux/unique_fd.h"

namespace tarnwick {

// The work behind the valid requests. Each is called only for a request that
// passed ParseHelperRequest.
class THelperActions {
public:
    virtual ~THelperActions() = default;

    // Which kHelperCan* abilities the hello announces.
    virtual uint32_t Abilities() = 0;
    // Closes the connection of `row`, as TConnectionKiller::KillTcp.
    virtual TStatus KillTcp(const TTcpRow& row) = 0;
    // The program's end of the capture stream of the interface of index
    // `interfaceIndex` (see OpenCapture in helper_protocol.h); its errno and
    // context go back in the Failed reply.
    virtual TResult<TUniqueFd> OpenCapture(uint32_t interfaceIndex) = 0;
    // The owners of `inodes` that some process holds (of every socket when
    // empty), with their process names.
    virtual std::vector<THelperOwner> SocketOwners(const std::vector<uint64_t>& inodes) = 0;
};

// Sends the hello, then serves requests on `socket` one at a time. Returns
// when the peer has closed its end (end of file; an empty message reads the
// same on a SOCK_SEQPACKET socket) or can no longer be written to, or when a
// wait was interrupted by a signal and `parentAlive` says the parent is gone.
// Returns 0 then, or 1 when the socket itself failed.
//
// Requests carry no descriptors: receiving with no room for any, the kernel
// drops (closes) any that a peer sends, and such a request is refused.
int ServeHelperRequests(int socket, THelperActions& actions, const std::function<bool()>& parentAlive);

// Whether `fd` is an AF_UNIX SOCK_SEQPACKET socket: the helper's request
// socket, and the only kind of capture the program takes from it.
bool IsSeqPacketSocket(int fd);

// Sends one message of the protocol on `socket`, with `passedFd` as its one
// SCM_RIGHTS descriptor when not negative; false when the peer is gone or the
// socket failed.
bool SendHelperMessage(int socket, const std::vector<uint8_t>& message, int passedFd = -1);

}  // namespace tarnwick

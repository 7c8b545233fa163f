// A netlink socket on the sock_diag bus (NETLINK_SOCK_DIAG), and the
// request/reply exchange the socket dumps are made of.
//
// The socket is owned by exactly one TNetlinkSocket: opened and bound by
// Open(), closed by the destructor. It can be moved, not copied.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "common/result.h"

struct mnl_socket;
struct nlmsghdr;

namespace tarnwick {

class TNetlinkSocket {
public:
    // Opens a NETLINK_SOCK_DIAG socket and binds it to a kernel-chosen port id.
    // On failure, the errno of the failing call.
    static TResult<TNetlinkSocket> Open();

    TNetlinkSocket(TNetlinkSocket&& other) noexcept;
    TNetlinkSocket& operator=(TNetlinkSocket&& other) noexcept;
    TNetlinkSocket(const TNetlinkSocket&) = delete;
    TNetlinkSocket& operator=(const TNetlinkSocket&) = delete;
    ~TNetlinkSocket();

    // Called once per reply message of the request's own type range (not for
    // the netlink control messages). Returns MNL_CB_OK to go on, MNL_CB_STOP
    // to see no more of the reply, MNL_CB_ERROR (with errno set) to fail the
    // exchange. Either way the rest of the reply is read and dropped, so the
    // socket is ready for the next exchange.
    using TMessageCallback = int (*)(const nlmsghdr* message, void* data);

    // Sends `request` (a complete message; its sequence number is set here)
    // and feeds every reply message to `onMessage` until the reply ends:
    // NLMSG_DONE for a dump, an acknowledgement otherwise. Returns 0 on
    // success, or the errno of the failure: a send or receive error, the error
    // code of an NLMSG_ERROR or of a failed dump's NLMSG_DONE, or the errno
    // set by the callback when it returned MNL_CB_ERROR.
    int Exchange(nlmsghdr* request, TMessageCallback onMessage, void* data);

    // The same with any callable `int(const nlmsghdr*)`.
    template <typename F>
    int Exchange(nlmsghdr* request, F&& onMessage) {
        using TFn = std::remove_reference_t<F>;
        return Exchange(
            request,
            [](const nlmsghdr* message, void* data) { return (*static_cast<TFn*>(data))(message); },
            const_cast<void*>(static_cast<const void*>(&onMessage)));
    }

private:
    explicit TNetlinkSocket(mnl_socket* socket) noexcept;

    mnl_socket* Socket_ = nullptr;
    uint32_t NextSequence_ = 1;
};

}  // namespace tarnwick

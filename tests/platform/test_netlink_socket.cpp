#include "platform/linux/netlink_socket.h"

#include <gtest/gtest.h>
#include <libmnl/libmnl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/linux/unique_fd.h"

namespace tarnwick {
namespace {

struct TRequest {
    alignas(nlmsghdr) char Bytes[MNL_NLMSG_HDRLEN + MNL_ALIGN(sizeof(inet_diag_req_v2))];
    nlmsghdr* Header = nullptr;
};

void MakeDumpRequest(TRequest& request, uint8_t family) {
    request.Header = mnl_nlmsg_put_header(request.Bytes);
    request.Header->nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.Header->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    auto* diag = static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(request.Header, sizeof(inet_diag_req_v2)));
    diag->sdiag_family = family;
    diag->sdiag_protocol = IPPROTO_TCP;
    diag->idiag_states = ~0u;
}

TEST(NetlinkSocket, KernelErrorReplyBecomesItsErrno) {
    TResult<TNetlinkSocket> socket = TNetlinkSocket::Open();
    ASSERT_TRUE(socket) << socket.Failure().Text();
    TRequest request;
    MakeDumpRequest(request, AF_MAX);  // no such family: the kernel answers EINVAL
    int messages = 0;
    EXPECT_EQ(socket->Exchange(request.Header, [&](const nlmsghdr*) { return ++messages, MNL_CB_OK; }), EINVAL);
    EXPECT_EQ(messages, 0);

    // The socket stays usable, and sequence numbers move on.
    MakeDumpRequest(request, AF_INET);
    EXPECT_EQ(socket->Exchange(request.Header, [](const nlmsghdr*) { return MNL_CB_OK; }), 0);
}

TEST(NetlinkSocket, CallbackErrorFailsTheExchangeAndLeavesTheSocketUsable) {
    TResult<TNetlinkSocket> socket = TNetlinkSocket::Open();
    ASSERT_TRUE(socket) << socket.Failure().Text();
    // Something to dump: at least one socket of our own.
    const TUniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(listener.IsValid());
    ASSERT_EQ(listen(listener.Get(), 1), 0);
    TRequest request;
    MakeDumpRequest(request, AF_INET);
    EXPECT_EQ(socket->Exchange(request.Header, [](const nlmsghdr*) { return errno = ENOMEM, MNL_CB_ERROR; }), ENOMEM);

    // The abandoned rest of that reply does not leak into the next exchange.
    int messages = 0;
    MakeDumpRequest(request, AF_INET);
    EXPECT_EQ(socket->Exchange(request.Header, [&](const nlmsghdr*) { return ++messages, MNL_CB_OK; }), 0);
    EXPECT_GE(messages, 1);
}

TEST(NetlinkSocket, MovedFromSocketRefusesExchanges) {
    TResult<TNetlinkSocket> socket = TNetlinkSocket::Open();
    ASSERT_TRUE(socket) << socket.Failure().Text();
    TNetlinkSocket moved = std::move(*socket);
    TRequest request;
    MakeDumpRequest(request, AF_INET);
    EXPECT_EQ(socket->Exchange(request.Header, [](const nlmsghdr*) { return MNL_CB_OK; }), EBADF);
    EXPECT_EQ(moved.Exchange(request.Header, [](const nlmsghdr*) { return MNL_CB_OK; }), 0);
}

}  // namespace
}  // namespace tarnwick

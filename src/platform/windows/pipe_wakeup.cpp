#include "platform/pipe_wakeup.h"

#include <winsock2.h>

#include <cstring>
#include <system_error>

#include "platform/windows/unique_handle.h"
#include "platform/windows/winsock.h"

namespace tarnwick {

namespace {

[[noreturn]] void ThrowSocketError(const char* what) {
    throw std::system_error(::WSAGetLastError(), std::system_category(), what);
}

void MakeNonBlocking(SOCKET socket) {
    u_long on = 1;
    if (::ioctlsocket(socket, FIONBIO, &on) != 0) ThrowSocketError("ioctlsocket");
}

}  // namespace

// Windows polls sockets only (WSAPoll): the "pipe" is a connected pair of
// loopback TCP sockets, made through a listener that lives for the making.
TPipeWakeup::TPipeWakeup() {
    if (const TStatus started = StartWinsock(); !started)
        throw std::system_error(started.Failure().Errno, std::generic_category(), started.Failure().Text());
    TUniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener.IsValid()) ThrowSocketError("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.Get(), 1) != 0 ||
        ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        ThrowSocketError("listening on loopback");
    TUniqueSocket writer(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!writer.IsValid()) ThrowSocketError("socket");
    if (::connect(writer.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        ThrowSocketError("connecting on loopback");
    sockaddr_in writerEnd{};
    length = sizeof writerEnd;
    if (::getsockname(writer.Get(), reinterpret_cast<sockaddr*>(&writerEnd), &length) != 0)
        ThrowSocketError("getsockname");
    // Another program may connect to the listener first: only the
    // connection from our own writer is taken.
    for (;;) {
        sockaddr_in peer{};
        length = sizeof peer;
        TUniqueSocket reader(::accept(listener.Get(), reinterpret_cast<sockaddr*>(&peer), &length));
        if (!reader.IsValid()) ThrowSocketError("accept");
        if (peer.sin_port != writerEnd.sin_port || peer.sin_addr.s_addr != writerEnd.sin_addr.s_addr) continue;
        // One byte a signal, sent at once.
        BOOL noDelay = TRUE;
        ::setsockopt(writer.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
        MakeNonBlocking(reader.Get());
        MakeNonBlocking(writer.Get());
        Read_ = DescriptorOfSocket(reader.Release());
        Write_ = DescriptorOfSocket(writer.Release());
        return;
    }
}

TPipeWakeup::~TPipeWakeup() {
    ::closesocket(SocketOfDescriptor(Read_));
    ::closesocket(SocketOfDescriptor(Write_));
}

void TPipeWakeup::Signal() {
    const char one = 1;
    // A full buffer refuses (WSAEWOULDBLOCK), and the reader is readable then anyway.
    ::send(SocketOfDescriptor(Write_), &one, 1, 0);
}

void TPipeWakeup::Clear() {
    char bytes[64];
    // Until WSAEWOULDBLOCK: every signal since the last clear is taken.
    while (::recv(SocketOfDescriptor(Read_), bytes, sizeof bytes, 0) > 0) {
    }
}

}  // namespace tarnwick

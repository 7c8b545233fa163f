// The system's TCP and UDP sockets, as typed rows.
//
// A table holds its IPv4 rows first, then its IPv6 rows, each part sorted by
// local end, then remote end. The IPv4 rows include the IPv6 sockets whose
// two ends are IPv4-mapped (or whose remote end is unspecified: a listener,
// a socket merely bound), since those carry IPv4 connections to the user;
// their addresses are the IPv4 ones. The IPv6 rows are every other IPv6
// socket.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/inet_address.h"
#include "common/result.h"
#include "platform/tcp_state.h"

namespace tarnwick {

// The byte counters of one TCP socket: data bytes the peer acknowledged
// (sent) and data bytes received, without the sequence numbers the SYN and
// FIN take up. Known is false where the system keeps none for the socket
// (Time_Wait sockets, requests still in their handshake, listening and merely
// bound sockets, which carry no data, a kernel whose tcp_info is too short to
// hold them) or none were read.
struct TSocketTraffic {
    uint64_t BytesSent = 0;
    uint64_t BytesReceived = 0;
    bool Known = false;
    // The socket the counters belong to (the kernel's socket cookie; 0 where
    // the source gives none), which tells a new socket with the same ends
    // from the one before it.
    uint64_t Socket = 0;
    // When the counters were read; left at the epoch by a source that does not
    // say, and then taken as read when the refresh began.
    std::chrono::steady_clock::time_point ReadAt{};
    bool operator==(const TSocketTraffic&) const = default;
};

// One TCP socket. Ports are in host order. Both addresses are of one family;
// a listener or a socket merely bound has an unspecified remote address and
// remote port 0.
struct TTcpRow {
    TTcpState State = TTcpState::Closed;
    TInetAddress LocalAddr;
    uint16_t LocalPort = 0;
    TInetAddress RemoteAddr;
    uint16_t RemotePort = 0;
    uint32_t OwningPid = 0;  // 0 when no process this one can see holds it
    // The interface an IPv6 socket is bound to (0 for none), which tells
    // link-local peers apart; 0 in IPv4 rows.
    uint32_t Interface = 0;
    // The socket's cookie: the system's number for it, never reused while the
    // system runs, so it tells a new connection from an old one with the same
    // four ends. A Time_Wait row is a socket of its own with its own cookie.
    // 0 where the source gives none.
    uint64_t Cookie = 0;
    uint64_t Inode = 0;  // 0 when no descriptor holds the socket
    TSocketTraffic Traffic;

    bool V6() const { return LocalAddr.V6(); }
};

// One UDP socket, by its local end.
struct TUdpRow {
    TInetAddress LocalAddr;
    uint16_t LocalPort = 0;
    uint32_t OwningPid = 0;
    uint32_t Interface = 0;  // IPv6 rows only
    uint64_t Inode = 0;

    bool V6() const { return LocalAddr.V6(); }
};

struct TTcpTable {
    std::vector<TTcpRow> Rows;
    size_t Ipv6Rows = 0;  // how many of Rows, at their end, are IPv6 rows
    // Whether the fetch read the byte counters; each row's Traffic then says
    // whether the system keeps any for its socket.
    bool TrafficRead = false;
};

struct TUdpTable {
    std::vector<TUdpRow> Rows;
    size_t Ipv6Rows = 0;
};

// What a fetch reads.
struct TTableRequest {
    // The IPv6 rows too; without them only IPv4 sockets and IPv4-mapped IPv6
    // ones are read.
    bool Ipv6 = true;
    // The TCP sockets' byte counters (TTcpRow::Traffic).
    bool Traffic = true;
};

class TIpTables {
public:
    virtual ~TIpTables() = default;

    // The sockets of each protocol at this moment, with their owners. A
    // failure is the system's errno and what was being read.
    virtual TResult<TTcpTable> FetchTcp(const TTableRequest& request) = 0;
    virtual TResult<TUdpTable> FetchUdp(const TTableRequest& request) = 0;

    // The process holding the socket with this inode now, 0 when none is
    // known (or the source cannot tell).
    virtual uint32_t OwnerOfSocket(uint64_t /*inode*/) { return 0; }
};

}  // namespace tarnwick

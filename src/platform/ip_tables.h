// The system's TCP and UDP tables, as packed tables of 32-bit fields: the
// IPv4 tables (which also hold IPv6 sockets whose two ends are IPv4-mapped,
// as those are IPv4 connections to the user) and, on the extended path, the
// IPv6 tables of every other IPv6 socket.
//
// A table is an entry count followed by that many packed rows. Every field is an
// unsigned 32-bit value stored little-endian. Address fields hold the IPv4 address
// in network byte order (the first byte in memory is the first number of the
// dotted form); port fields hold the port in network byte order in their low
// 16 bits (the upper 16 bits are zero and ignored by readers).
//
//   extended TCP row, 24 bytes: state, local addr, local port, remote addr, remote port, pid
//   extended UDP row, 12 bytes: local addr, local port, pid
//   plain TCP row,    20 bytes: state, local addr, local port, remote addr, remote port
//   plain UDP row,     8 bytes: local addr, local port
//   extended TCP6 row, 52 bytes: state, local addr (16 bytes), local port,
//                                remote addr (16 bytes), remote port, interface, pid
//   extended UDP6 row, 28 bytes: local addr (16 bytes), local port, interface, pid
//
// An IPv6 address is its 16 bytes in network order. The interface is the
// index the socket is bound to (0 for none), which tells link-local peers apart.
//
// The state is numbered 1..12 (Closed .. Delete_Tcb), see tcp_state_names.h.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/inet_address.h"

namespace tarnwick {

// Result codes of the table calls.
inline constexpr uint32_t kTableOk = 0;
inline constexpr uint32_t kInsufficientBuffer = 122;

// Row sizes in bytes of the four layouts, and the size of the leading count.
inline constexpr size_t kTableCountSize = 4;
inline constexpr size_t kTcpRowExSize = 24;
inline constexpr size_t kUdpRowExSize = 12;
inline constexpr size_t kTcpRowSize = 20;
inline constexpr size_t kUdpRowSize = 8;
inline constexpr size_t kTcp6RowExSize = 52;
inline constexpr size_t kUdp6RowExSize = 28;

// Decoded rows. OwningPid is 0 in the plain layouts. A row of an IPv6 table
// has V6 set and its addresses in LocalAddr6 and RemoteAddr6 (LocalAddr and
// RemoteAddr are 0 then). Cookie and Inode are not part of the packed
// layouts: they come beside the tables (TIpTables::TakeTcpIdentities) or
// with an ended connection, and are 0 where unknown.
struct TTcpRow {
    uint32_t State = 0;
    uint32_t LocalAddr = 0;
    uint32_t LocalPort = 0;
    uint32_t RemoteAddr = 0;
    uint32_t RemotePort = 0;
    uint32_t OwningPid = 0;
    bool V6 = false;
    TIp6Address LocalAddr6{};
    TIp6Address RemoteAddr6{};
    uint32_t Interface = 0;  // IPv6 rows only
    // The socket's cookie: the system's number for it, never reused while the
    // system runs, so it tells a new connection from an old one with the same
    // four ends. A Time_Wait row is a socket of its own with its own cookie.
    uint64_t Cookie = 0;
    uint64_t Inode = 0;  // 0 when no descriptor holds the socket
};

// The socket behind one TCP row (see TTcpRow::Cookie).
struct TSocketIdentity {
    uint64_t Cookie = 0;
    uint64_t Inode = 0;
    bool operator==(const TSocketIdentity&) const = default;
};

struct TUdpRow {
    uint32_t LocalAddr = 0;
    uint32_t LocalPort = 0;
    uint32_t OwningPid = 0;
    bool V6 = false;
    TIp6Address LocalAddr6{};
    uint32_t Interface = 0;  // IPv6 rows only
};

// The byte counters of one TCP socket: data bytes the peer acknowledged
// (sent) and data bytes received, without the sequence numbers the SYN and
// FIN take up. Known is false where the system keeps none for the socket
// (Time_Wait sockets, requests still in their handshake, listening and merely
// bound sockets, which carry no data, a kernel whose tcp_info is too short to
// hold them).
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

// Packing and unpacking of the layouts above. `extended` selects the layout
// with the owning process id. Decoders read only inside `table`: a table whose
// count claims more rows than its bytes hold yields only the complete rows.
std::vector<uint8_t> EncodeTcpTable(const std::vector<TTcpRow>& rows, bool extended);
std::vector<uint8_t> EncodeUdpTable(const std::vector<TUdpRow>& rows, bool extended);
uint32_t TableRowCount(const std::vector<uint8_t>& table, size_t rowSize);
TTcpRow DecodeTcpRow(const std::vector<uint8_t>& table, size_t index, bool extended);
TUdpRow DecodeUdpRow(const std::vector<uint8_t>& table, size_t index, bool extended);
// The IPv6 tables (extended layout only).
std::vector<uint8_t> EncodeTcp6Table(const std::vector<TTcpRow>& rows);
std::vector<uint8_t> EncodeUdp6Table(const std::vector<TUdpRow>& rows);
TTcpRow DecodeTcp6Row(const std::vector<uint8_t>& table, size_t index);
TUdpRow DecodeUdp6Row(const std::vector<uint8_t>& table, size_t index);
void WriteTableField(std::vector<uint8_t>& table, size_t offset, uint32_t value);
uint32_t ReadTableField(const std::vector<uint8_t>& table, size_t offset);

// Field encodings: host-order values to the row's field values and back.
// A port field's low two bytes are the port in network order.
inline constexpr uint32_t PortField(uint16_t port) {
    return static_cast<uint32_t>(((port & 0xFFu) << 8) | (port >> 8));
}
inline constexpr uint16_t PortFromField(uint32_t field) {
    return static_cast<uint16_t>(((field & 0xFFu) << 8) | ((field >> 8) & 0xFFu));
}
// a.b.c.d as an address field (its first byte in memory is a).
inline constexpr uint32_t AddrField(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) | (static_cast<uint32_t>(c) << 16) |
           (static_cast<uint32_t>(d) << 24);
}

// Source of the tables. Two paths: the extended one hands over whole tables
// with process ids; the plain one follows a size protocol (ask with no buffer
// to learn the size, answered with kInsufficientBuffer, then fetch).
class TIpTables {
public:
    virtual ~TIpTables() = default;

    // True when the extended tables (with owning process ids) can be fetched.
    virtual bool ExTablesAvailable() const = 0;

    // Extended path: replaces `table` with a sorted extended table and returns
    // kTableOk, or returns an error code and leaves `table` empty.
    virtual uint32_t GetTcpExTable(std::vector<uint8_t>& table) = 0;
    virtual uint32_t GetUdpExTable(std::vector<uint8_t>& table) = 0;

    // Extended path, IPv6 sockets other than IPv4-mapped ones, in the IPv6
    // layouts. A source without IPv6 sockets keeps these: empty tables.
    virtual uint32_t GetTcp6ExTable(std::vector<uint8_t>& table) {
        table = EncodeTcp6Table({});
        return kTableOk;
    }
    virtual uint32_t GetUdp6ExTable(std::vector<uint8_t>& table) {
        table = EncodeUdp6Table({});
        return kTableOk;
    }

    // The byte counters of the TCP sockets of the last extended TCP fetch,
    // aligned with its rows: the IPv4 table's rows, then the IPv6 table's when
    // one was fetched after it. Handed over once (a second call gives none).
    // A source without counters keeps this: none, and every row reads unknown.
    virtual std::vector<TSocketTraffic> TakeTcpTraffic() { return {}; }
    // The sockets of the last extended TCP fetch's rows, aligned with them as
    // the counters are. Handed over once. A source without them keeps this:
    // none, and every row's cookie reads 0 (matched by its ends alone).
    virtual std::vector<TSocketIdentity> TakeTcpIdentities() { return {}; }
    // The process holding the socket with this inode now, 0 when none is
    // known (or the source cannot tell).
    virtual uint32_t OwnerOfSocket(uint64_t /*inode*/) { return 0; }
    // Whether the next fetches read the counters at all: they cost a
    // noticeable part of a refresh, so only when something shows traffic.
    virtual void SetReadTraffic(bool /*read*/) {}

    // Plain path: with `buffer` null or `size` too small, returns
    // kInsufficientBuffer and sets `size` to the bytes needed; otherwise fills
    // `buffer` with a plain table and returns kTableOk. `sorted` asks for rows
    // in (local addr, local port, remote addr, remote port) order.
    virtual uint32_t GetTcpTable(uint8_t* buffer, uint32_t& size, bool sorted) = 0;
    virtual uint32_t GetUdpTable(uint8_t* buffer, uint32_t& size, bool sorted) = 0;
};

}  // namespace tarnwick

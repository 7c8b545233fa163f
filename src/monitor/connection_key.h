// The identity of one entry of the tables, kept with the grid row that shows
// it, so that a command on that row finds the same connection in whatever
// tables are current by then, never whatever now sits at the row's index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/ip_tables.h"

namespace tarnwick {

struct TConnectionKey {
    bool Tcp = true;  // a TCP entry, else a UDP one
    // nullopt matches any local address (the command line names a connection
    // by its ports and remote address only).
    std::optional<TInetAddress> LocalAddr;
    uint16_t LocalPort = 0;
    // A UDP entry's is the unspecified address of its family: the family of
    // the key is that of RemoteAddr.
    TInetAddress RemoteAddr;
    uint16_t RemotePort = 0;  // TCP only
    // The interface an IPv6 entry is bound to, compared with the local
    // address; where the local address is left open, it counts only when not
    // 0 (the zone of a link-local remote address). 0 for IPv4.
    uint32_t Interface = 0;
    bool operator==(const TConnectionKey&) const = default;

    bool V6() const { return RemoteAddr.V6(); }

    // Whether this key, taken from an entry, names the same connection as
    // `wanted` (whose local address may be left open).
    bool Matches(const TConnectionKey& wanted) const;
};

// For hashed sets of keys.
struct TConnectionKeyHash {
    size_t operator()(const TConnectionKey& key) const;
};

TConnectionKey KeyOfTcpRow(const TTcpRow& row);
TConnectionKey KeyOfUdpRow(const TUdpRow& row);

// An entry found by its key, with the row as the tables held it then.
struct TFoundConnection {
    bool Tcp = true;
    uint32_t Index = 0;  // row of that table, from 0
    TTcpRow TcpRow;      // when Tcp
    TUdpRow UdpRow;      // when not Tcp
    uint32_t OwningPid() const { return Tcp ? TcpRow.OwningPid : UdpRow.OwningPid; }
};

// The row index a rule check is given for a connection that ended before any
// refresh listed it: no row of the tables shows it, so nothing may act on one.
inline constexpr int kEndedConnectionRow = -1;

}  // namespace tarnwick

// The order of the rows of a connection table (see ip_tables.h), for every
// system's tables to give: the IPv4 rows by local end, then remote end; then
// the IPv6 rows the same way.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/ip_tables.h"

namespace tarnwick {

// An IPv4 end as one number that sorts as the end does: the address's bytes,
// most significant first, then the port.
inline uint64_t Ipv4EndKey(const TInetAddress& address, uint16_t port) {
    const TIp6Address& b = address.Bytes();
    return uint64_t{b[0]} << 40 | uint64_t{b[1]} << 32 | uint64_t{b[2]} << 24 | uint64_t{b[3]} << 16 | port;
}

// Table order: local end, remote end; the rest only makes ties deterministic.
// The IPv4 rows compare their ends as numbers, which is the same order as
// the addresses' and ports' own, only quicker.
inline void SortIpv4Rows(std::vector<TTcpRow>& rows) {
    std::sort(rows.begin(), rows.end(), [](const TTcpRow& a, const TTcpRow& b) {
        return std::make_tuple(Ipv4EndKey(a.LocalAddr, a.LocalPort), Ipv4EndKey(a.RemoteAddr, a.RemotePort), a.State,
                               a.OwningPid, a.Inode) <
               std::make_tuple(Ipv4EndKey(b.LocalAddr, b.LocalPort), Ipv4EndKey(b.RemoteAddr, b.RemotePort), b.State,
                               b.OwningPid, b.Inode);
    });
}

// The same order for IPv6 rows; the interface tells link-local twins apart.
inline void SortIpv6Rows(std::vector<TTcpRow>& rows) {
    std::sort(rows.begin(), rows.end(), [](const TTcpRow& a, const TTcpRow& b) {
        return std::tie(a.LocalAddr, a.LocalPort, a.RemoteAddr, a.RemotePort, a.Interface, a.State, a.OwningPid,
                        a.Inode) <
               std::tie(b.LocalAddr, b.LocalPort, b.RemoteAddr, b.RemotePort, b.Interface, b.State, b.OwningPid,
                        b.Inode);
    });
}

// The IPv4 rows, sorted, then the IPv6 ones, sorted.
inline std::vector<TTcpRow> JoinedRows(std::vector<TTcpRow>&& v4, std::vector<TTcpRow>&& v6) {
    SortIpv4Rows(v4);
    SortIpv6Rows(v6);
    v4.insert(v4.end(), std::make_move_iterator(v6.begin()), std::make_move_iterator(v6.end()));
    return std::move(v4);
}

// A UDP socket read as a TCP row (its remote end unused) as the UDP row it is.
inline TUdpRow UdpRowOf(const TTcpRow& socket) {
    return TUdpRow{socket.LocalAddr, socket.LocalPort, socket.OwningPid, socket.Interface, socket.Inode};
}

// Whether an IPv6 socket with these ends carries IPv4 traffic only, and so
// is listed as an IPv4 row: its local end IPv4-mapped and its remote end
// mapped too, or unspecified (a listener, a socket merely bound).
inline bool IsMappedSocket(const TIp6Address& local, const TIp6Address& remote) {
    return IsIpv4Mapped(local) && (IsIpv4Mapped(remote) || remote == TIp6Address{});
}

}  // namespace tarnwick

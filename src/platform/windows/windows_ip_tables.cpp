#include "platform/windows/windows_ip_tables.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstring>

#include "platform/table_order.h"
#include "platform/windows/win32_failure.h"

namespace tarnwick {

namespace {

// The table can grow between the call that tells its size and the one that
// fills it; each try is given the size the last one asked for, and a little.
constexpr int kFetchAttempts = 5;

// The ports of the tables are in network order in the low 16 bits.
uint16_t PortOf(DWORD field) { return static_cast<uint16_t>((field & 0xFF) << 8 | (field >> 8 & 0xFF)); }

TIp6Address Ip6Of(const UCHAR (&bytes)[16]) {
    TIp6Address address;
    std::memcpy(address.data(), bytes, address.size());
    return address;
}

// TCP states come numbered as MIB_TCP_STATE, which is TTcpState's numbering.
TTcpState StateOf(DWORD state) {
    return state >= 1 && state <= 12 ? static_cast<TTcpState>(state) : TTcpState::Closed;
}

// Fills `buffer` with one of the extended tables through `fetch` (the call
// with its size argument), by the usual protocol: a call that finds the
// buffer too small says how large it must be.
template <typename TFetch>
DWORD FetchTable(std::vector<uint64_t>& buffer, TFetch fetch) {
    DWORD error = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < kFetchAttempts && error == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
        error = fetch(buffer.empty() ? nullptr : buffer.data(), &size);
        if (error == ERROR_INSUFFICIENT_BUFFER) buffer.resize((size + size / 8 + 1024) / sizeof(uint64_t) + 1);
    }
    return error;
}

// The IPv6 sockets of a table: IPv4 rows for those that carry IPv4 traffic
// only, IPv6 rows (when asked for) for the others.
void AddIpv6Row(TTcpRow row, const TIp6Address& local, const TIp6Address& remote, std::vector<TTcpRow>& v4,
                std::vector<TTcpRow>* v6) {
    if (IsMappedSocket(local, remote)) {
        row.LocalAddr = TInetAddress::FromIpv4Field(MappedIpv4Field(local));
        row.RemoteAddr = TInetAddress::FromIpv4Field(IsIpv4Mapped(remote) ? MappedIpv4Field(remote) : 0);
        row.Interface = 0;
        v4.push_back(row);
    } else if (v6 != nullptr) {
        row.LocalAddr = TInetAddress::Ipv6(local);
        row.RemoteAddr = TInetAddress::Ipv6(remote);
        v6->push_back(row);
    }
}

}  // namespace

TResult<TTcpTable> TWindowsIpTables::FetchTcp(const TTableRequest& request) {
    std::lock_guard lock(Mutex_);
    std::vector<TTcpRow> v4, v6;
    DWORD error = FetchTable(Buffer_, [](void* table, DWORD* size) {
        return ::GetExtendedTcpTable(table, size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    });
    if (error != NO_ERROR) return FailureFromWin32(error, "reading the TCP sockets");
    const auto* table4 = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(Buffer_.data());
    v4.reserve(table4->dwNumEntries);
    for (DWORD i = 0; i < table4->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& r = table4->table[i];
        TTcpRow row;
        row.State = StateOf(r.dwState);
        row.LocalAddr = TInetAddress::FromIpv4Field(r.dwLocalAddr);
        row.LocalPort = PortOf(r.dwLocalPort);
        // A listener's remote end is whatever the table holds; it means none.
        const bool listening = row.State == TTcpState::Listening;
        row.RemoteAddr = TInetAddress::FromIpv4Field(listening ? 0 : r.dwRemoteAddr);
        row.RemotePort = listening ? 0 : PortOf(r.dwRemotePort);
        row.OwningPid = r.dwOwningPid;
        v4.push_back(row);
    }

    error = FetchTable(Buffer_, [](void* table, DWORD* size) {
        return ::GetExtendedTcpTable(table, size, FALSE, AF_INET6, TCP_TABLE_OWNER_PID_ALL, 0);
    });
    // A system without IPv6 has no IPv6 sockets to list.
    if (error != NO_ERROR && error != ERROR_NOT_SUPPORTED) return FailureFromWin32(error, "reading the TCPv6 sockets");
    if (error == NO_ERROR) {
        const auto* table6 = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(Buffer_.data());
        for (DWORD i = 0; i < table6->dwNumEntries; ++i) {
            const MIB_TCP6ROW_OWNER_PID& r = table6->table[i];
            TTcpRow row;
            row.State = StateOf(r.dwState);
            row.LocalPort = PortOf(r.dwLocalPort);
            const bool listening = row.State == TTcpState::Listening;
            row.RemotePort = listening ? 0 : PortOf(r.dwRemotePort);
            row.OwningPid = r.dwOwningPid;
            row.Interface = r.dwLocalScopeId;
            AddIpv6Row(row, Ip6Of(r.ucLocalAddr), listening ? TIp6Address{} : Ip6Of(r.ucRemoteAddr), v4,
                       request.Ipv6 ? &v6 : nullptr);
        }
    }
    TTcpTable table;
    table.Ipv6Rows = v6.size();
    table.Rows = JoinedRows(std::move(v4), std::move(v6));
    return table;
}

TResult<TUdpTable> TWindowsIpTables::FetchUdp(const TTableRequest& request) {
    std::lock_guard lock(Mutex_);
    std::vector<TTcpRow> v4, v6;
    DWORD error = FetchTable(Buffer_, [](void* table, DWORD* size) {
        return ::GetExtendedUdpTable(table, size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    });
    if (error != NO_ERROR) return FailureFromWin32(error, "reading the UDP sockets");
    const auto* table4 = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(Buffer_.data());
    v4.reserve(table4->dwNumEntries);
    for (DWORD i = 0; i < table4->dwNumEntries; ++i) {
        const MIB_UDPROW_OWNER_PID& r = table4->table[i];
        TTcpRow socket;
        socket.LocalAddr = TInetAddress::FromIpv4Field(r.dwLocalAddr);
        socket.LocalPort = PortOf(r.dwLocalPort);
        socket.OwningPid = r.dwOwningPid;
        v4.push_back(socket);
    }

    error = FetchTable(Buffer_, [](void* table, DWORD* size) {
        return ::GetExtendedUdpTable(table, size, FALSE, AF_INET6, UDP_TABLE_OWNER_PID, 0);
    });
    if (error != NO_ERROR && error != ERROR_NOT_SUPPORTED) return FailureFromWin32(error, "reading the UDPv6 sockets");
    if (error == NO_ERROR) {
        const auto* table6 = reinterpret_cast<const MIB_UDP6TABLE_OWNER_PID*>(Buffer_.data());
        for (DWORD i = 0; i < table6->dwNumEntries; ++i) {
            const MIB_UDP6ROW_OWNER_PID& r = table6->table[i];
            TTcpRow socket;
            socket.LocalPort = PortOf(r.dwLocalPort);
            socket.OwningPid = r.dwOwningPid;
            socket.Interface = r.dwLocalScopeId;
            AddIpv6Row(socket, Ip6Of(r.ucLocalAddr), TIp6Address{}, v4, request.Ipv6 ? &v6 : nullptr);
        }
    }
    TUdpTable table;
    table.Ipv6Rows = v6.size();
    const std::vector<TTcpRow> sockets = JoinedRows(std::move(v4), std::move(v6));
    table.Rows.reserve(sockets.size());
    for (const TTcpRow& socket : sockets) table.Rows.push_back(UdpRowOf(socket));
    return table;
}

TStatus IpHelperAvailable() {
    DWORD size = 0;
    const DWORD error = ::GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    if (error != NO_ERROR && error != ERROR_INSUFFICIENT_BUFFER)
        return FailureFromWin32(error, "reading the TCP sockets");
    return {};
}

}  // namespace tarnwick

#include "platform/windows/windows_connection_killer.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <algorithm>

#include "platform/windows/win32_failure.h"
#include "platform/windows/windows_ip_tables.h"

namespace tarnwick {

namespace {

DWORD PortField(uint16_t port) { return htons(port); }

bool StillEstablished(const TTcpRow& row) {
    TWindowsIpTables tables;
    const TResult<TTcpTable> table = tables.FetchTcp({.Ipv6 = false, .Traffic = false});
    if (!table) return false;
    return std::any_of(table->Rows.begin(), table->Rows.end(), [&row](const TTcpRow& r) {
        return r.State == TTcpState::Established && r.LocalAddr == row.LocalAddr && r.LocalPort == row.LocalPort &&
               r.RemoteAddr == row.RemoteAddr && r.RemotePort == row.RemotePort;
    });
}

}  // namespace

TStatus TWindowsConnectionKiller::KillTcp(const TTcpRow& row) {
    if (row.V6()) return TFailure{0, "Windows cannot close IPv6 connections: SetTcpEntry takes IPv4 ones only"};
    MIB_TCPROW entry{};
    entry.dwState = MIB_TCP_STATE_DELETE_TCB;
    entry.dwLocalAddr = row.LocalAddr.Ipv4Field();
    entry.dwLocalPort = PortField(row.LocalPort);
    entry.dwRemoteAddr = row.RemoteAddr.Ipv4Field();
    entry.dwRemotePort = PortField(row.RemotePort);
    const DWORD error = ::SetTcpEntry(&entry);
    if (error == NO_ERROR) {
        // Windows deletes the entry before the call returns; a system that
        // only says so (Wine answers every call with success) is found out
        // by the table.
        if (StillEstablished(row))
            return TFailure{0, "the system reported the connection closed, but it is still established"};
        return {};
    }
    // Without elevation Windows answers "access denied", or on some versions
    // 317, "the system cannot find message text": both mean the same here.
    if (error == ERROR_ACCESS_DENIED || error == ERROR_MR_MID_NOT_FOUND)
        return FailureFromWin32(ERROR_ACCESS_DENIED, "closing connections needs administrator rights");
    return FailureFromWin32(error, "");
}

}  // namespace tarnwick

#include "platform/linux/helper_audit.h"

#include <sys/socket.h>

namespace tarnwick {

namespace {

// syslog(3)'s LOG_NOTICE, and LOG_AUTHPRIV as the journal numbers facilities
// (the facility code without its shift): where su and sudo write what they
// do for whom.
constexpr int kNoticePriority = 5;
constexpr int kAuthPrivFacility = 10;

std::string EndText(const std::string& address, uint16_t port, bool v6) {
    const std::string host = v6 ? "[" + address + "]" : address;
    return host + ":" + std::to_string(port);
}

}  // namespace

std::optional<THelperCaller> ReadHelperCaller(int socket) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
    return THelperCaller{static_cast<uint32_t>(credentials.uid), static_cast<uint32_t>(credentials.pid)};
}

std::vector<TJournalField> ClosedConnectionEntry(const THelperCaller& caller, const TTcpRow& row) {
    const std::string local = row.LocalAddr.Text();
    const std::string remote = row.RemoteAddr.Text();
    const uint16_t localPort = row.LocalPort;
    const uint16_t remotePort = row.RemotePort;
    const std::string uid = std::to_string(caller.Uid);
    const std::string pid = std::to_string(caller.Pid);
    return {{"MESSAGE", "tarnwick-helper: closed TCP " + EndText(local, localPort, row.V6()) + " -> " +
                            EndText(remote, remotePort, row.V6()) + " for uid " + uid + " pid " + pid},
            {"PRIORITY", std::to_string(kNoticePriority)},
            {"SYSLOG_FACILITY", std::to_string(kAuthPrivFacility)},
            {"SYSLOG_IDENTIFIER", "tarnwick-helper"},
            {"TARNWICK_CALLER_UID", uid},
            {"TARNWICK_CALLER_PID", pid},
            {"TARNWICK_PROTOCOL", "TCP"},
            {"TARNWICK_LOCAL_ADDRESS", local},
            {"TARNWICK_LOCAL_PORT", std::to_string(localPort)},
            {"TARNWICK_REMOTE_ADDRESS", remote},
            {"TARNWICK_REMOTE_PORT", std::to_string(remotePort)}};
}

void THelperAudit::RecordClosed(const TTcpRow& row) {
    // What the journal says of a failure has nowhere to go: the helper's
    // error output is the caller's, who could neither fix it nor be trusted
    // to keep it.
    (void)Journal_.SendEntry(ClosedConnectionEntry(Caller_, row));
}

}  // namespace tarnwick

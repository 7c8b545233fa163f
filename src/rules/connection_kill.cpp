#include "rules/connection_kill.h"

#include "common/text_util.h"
#include "monitor/tcp_state_names.h"

namespace tarnwick {

std::string TKillResult::Message() const {
    switch (Outcome) {
        case TKillOutcome::Killed: return {};
        case TKillOutcome::NotTcp: return kUdpIsConnectionLess;
        case TKillOutcome::NotEstablished: return kOnlyEstablishedCanClose;
        case TKillOutcome::Refused: return "The connection could not be closed: " + Reason;
    }
    return {};
}

std::string KillRefusedLogText(const TTcpRow& row, const std::string& reason) {
    return "Could not close the connection to " + DottedText(row.RemoteAddr) + " On Port:" +
           std::to_string(PortFromField(row.RemotePort)) + " from local port " +
           std::to_string(PortFromField(row.LocalPort)) + ": " + reason;
}

TKillResult KillConnection(const ConnectionSnapshot& snapshot, int rowIndex, TConnectionKiller& killer) {
    if (rowIndex < 0 || static_cast<uint32_t>(rowIndex) >= snapshot.TcpRowCount()) return {TKillOutcome::NotTcp, {}};
    const TTcpRow row = snapshot.TcpRow(static_cast<size_t>(rowIndex));
    if (TcpStateName(row.State) != kStatusEstablished) return {TKillOutcome::NotEstablished, {}};
    if (auto reason = killer.KillTcp(row)) return {TKillOutcome::Refused, *reason};
    return {TKillOutcome::Killed, {}};
}

}  // namespace tarnwick

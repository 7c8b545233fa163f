#include "rules/connection_kill.h"

#include "monitor/selected_connection.h"

namespace tarnwick {

std::string TKillResult::Message() const {
    switch (Outcome) {
        case TKillOutcome::Killed: return {};
        case TKillOutcome::NotTcp: return kUdpIsConnectionLess;
        case TKillOutcome::NotEstablished: return kOnlyEstablishedCanClose;
        case TKillOutcome::Refused: return "The connection could not be closed: " + KillFailureReason(Failure);
        case TKillOutcome::Gone: return kConnectionGone;
    }
    return {};
}

std::string KillFailureReason(const TFailure& failure) {
    if (failure.Errno == 0) return failure.Context;
    const std::string message = failure.ErrnoText();
    return failure.Context.empty() ? message : message + " (" + failure.Context + ")";
}

std::string KillRefusedLogText(const TTcpRow& row, const TFailure& failure) {
    return "Could not close the connection to " + row.RemoteAddr.Text() + " On Port:" +
           std::to_string(row.RemotePort) + " from local port " +
           std::to_string(row.LocalPort) + ": " + KillFailureReason(failure);
}

TKillResult KillConnection(const ConnectionSnapshot& snapshot, int rowIndex, TConnectionKiller& killer) {
    if (rowIndex < 0 || static_cast<uint32_t>(rowIndex) >= snapshot.TcpRowCount()) return {TKillOutcome::NotTcp, {}};
    return KillConnection(snapshot.TcpRow(static_cast<size_t>(rowIndex)), killer);
}

TKillResult KillConnection(const TTcpRow& row, TConnectionKiller& killer) {
    if (row.State != TTcpState::Established) return {TKillOutcome::NotEstablished, {}};
    if (TStatus killed = killer.KillTcp(row); !killed) return {TKillOutcome::Refused, killed.Failure()};
    return {TKillOutcome::Killed, {}};
}

TKillResult KillShownConnection(const ConnectionSnapshot& snapshot, const TConnectionRow* shown,
                                TConnectionKiller& killer) {
    if (!shown || !shown->Key || !shown->Key->Tcp) return {TKillOutcome::NotTcp, {}};
    const auto found = snapshot.FindConnection(*shown->Key);
    if (!found) return {TKillOutcome::Gone, {}};
    return KillConnection(found->TcpRow, killer);
}

}  // namespace tarnwick

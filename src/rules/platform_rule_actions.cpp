#include "rules/platform_rule_actions.h"

#include "rules/connection_kill.h"

namespace tarnwick {

TPlatformRuleActions::TPlatformRuleActions(const ConnectionSnapshot& snapshot, TRuleServices services,
                                           TAddLog addLog, TShowPopup showPopup,
                                           std::function<void()> refreshAfterKill)
    : Snapshot_(snapshot),
      Services_(services),
      AddLog_(std::move(addLog)),
      ShowPopup_(std::move(showPopup)),
      RefreshAfterKill_(std::move(refreshAfterKill)) {}

bool TPlatformRuleActions::FileExists(const std::string& path) { return IsExistingFile(path); }

void TPlatformRuleActions::RunProgram(const std::string& path) {
    // A rule's run action logs its line whatever the outcome.
    (void)Services_.Launcher.Launch(path);
}

void TPlatformRuleActions::PlayWav(const std::string& path) { Services_.Sound.Play(path); }

bool TPlatformRuleActions::IsEstablished(int rowIndex) {
    if (rowIndex < 0 || static_cast<uint32_t>(rowIndex) >= Snapshot_.TcpRowCount()) return false;
    return Snapshot_.TcpRow(static_cast<size_t>(rowIndex)).State == TTcpState::Established;
}

void TPlatformRuleActions::KillConnection(int rowIndex) {
    const TKillResult result = tarnwick::KillConnection(Snapshot_, rowIndex, Services_.Killer);
    if (result.Outcome == TKillOutcome::Refused) {
        AddLog_(KillRefusedLogText(Snapshot_.TcpRow(static_cast<size_t>(rowIndex)), result.Failure), lkInfo,
                std::nullopt);
    } else if (result.Outcome == TKillOutcome::Killed && RefreshAfterKill_) {
        RefreshAfterKill_();
    }
}

void TPlatformRuleActions::ShowPopup(const std::string& header, const std::string& text) {
    if (ShowPopup_) ShowPopup_(header, text);
}

void TPlatformRuleActions::AddLog(const std::string& text, LogKind kind,
                                  const std::optional<TLogConnection>& connection) {
    AddLog_(text, kind, connection);
}

}  // namespace tarnwick

// Rule actions carried out with the platform's services over the snapshot of
// the running refresh. The window and the command-line tool differ only in
// where log lines and popups go and how they refresh after a kill.
#pragma once

#include <functional>
#include <string>

#include "monitor/connection_snapshot.h"
#include "platform/connection_killer.h"
#include "platform/program_launcher.h"
#include "platform/sound_player.h"
#include "rules/rule_check.h"

namespace tarnwick {

struct TRuleServices {
    TProgramLauncher& Launcher;
    TSoundPlayer& Sound;
    TConnectionKiller& Killer;
};

class TPlatformRuleActions final : public TRuleActions {
public:
    using TAddLog =
        std::function<void(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection)>;
    using TShowPopup = std::function<void(const std::string& header, const std::string& text)>;

    // `refreshAfterKill` asks for a refresh once a connection was closed; it
    // must not replace the snapshot of the refresh that is running.
    TPlatformRuleActions(const ConnectionSnapshot& snapshot, TRuleServices services, TAddLog addLog,
                         TShowPopup showPopup, std::function<void()> refreshAfterKill);

    bool FileExists(const std::string& path) override;
    void RunProgram(const std::string& path) override;
    void PlayWav(const std::string& path) override;
    bool IsEstablished(int rowIndex) override;
    // A refusal by the system is logged (kind lkInfo) with its reason.
    void KillConnection(int rowIndex) override;
    void ShowPopup(const std::string& header, const std::string& text) override;
    void AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) override;

private:
    const ConnectionSnapshot& Snapshot_;
    TRuleServices Services_;
    TAddLog AddLog_;
    TShowPopup ShowPopup_;
    std::function<void()> RefreshAfterKill_;
};

}  // namespace tarnwick

#include "rules/rule_check.h"

#include <filesystem>
#include <system_error>

#include "common/kept_texts.h"
#include "rules/rule_items.h"

namespace tarnwick {

namespace {

bool Matches(const TRuleItem& rule, const TRuleConnection& connection) {
    // The conditions are alternatives: any switched-on one that holds is enough.
    return (rule.EnIPFilter && rule.IPFilter == connection.RemoteAddress) ||
           (rule.EnLocalPortFilter && rule.LocalPortFilter == connection.LocalPort) ||
           (rule.EnRemotePortFilter && rule.RemotePortFilter == connection.RemotePort);
}

void RunActions(const TRuleItem& rule, const TRuleConnection& connection, TRuleActions& actions) {
    const std::string prefix = "Enabled Rules:" + rule.RulesName;
    if (rule.EnRunAction && actions.FileExists(rule.RunAction)) {
        actions.RunProgram(rule.RunAction);
        actions.AddLog(prefix + ",Run the Program files:" + rule.RunAction, lkRule);
    }
    if (rule.EnWavAction && actions.FileExists(rule.WavAction)) {
        actions.PlayWav(rule.WavAction);
        actions.AddLog(prefix + ",Play the wave files:" + rule.WavAction, lkRule);
    }
    if (rule.EnKillAction) {
        if (actions.IsEstablished(connection.RowIndex)) actions.KillConnection(connection.RowIndex);
        actions.AddLog(prefix + kRuleKillLine, lkRule);
    }
    if (rule.EnPopupAction) {
        actions.ShowPopup(rule.RulesName, rule.PopupMsg);
        actions.AddLog(prefix + ",Popup Messages:" + rule.PopupMsg, lkRule);
    }
}

}  // namespace

void CheckRules(const TRuleItems& rules, const TRuleConnection& connection, TRuleActions& actions) {
    const int count = rules.Count();
    for (int i = 0; i < count && i < rules.Count(); ++i) {
        const TRuleItem& rule = rules.Items(i);
        if (rule.EnabledRules && Matches(rule, connection)) RunActions(rule, connection, actions);
    }
}

bool IsExistingFile(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

}  // namespace tarnwick

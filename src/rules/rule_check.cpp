#include "rules/rule_check.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "common/inet_address.h"
#include "common/kept_texts.h"
#include "rules/rule_items.h"

namespace tarnwick {

namespace {

// The connection's address as an IPv6 address: its own, or the IPv4-mapped
// form of a dotted one (an IPv6 socket with IPv4-mapped ends shows dotted).
std::optional<TIp6Address> RemoteIp6(const std::string& text) {
    if (const auto field = ParseDottedQuad(text)) {
        TIp6Address mapped{};
        mapped[10] = mapped[11] = 0xFF;
        for (size_t i = 0; i < 4; ++i) mapped[12 + i] = static_cast<uint8_t>(*field >> (8 * i));
        return mapped;
    }
    return ParseIp6(text);
}

bool AddressMatches(const std::string& filter, const std::string& remote) {
    if (filter == remote) return true;
    // IPv4 filters are compared as text, as they always were; IPv6 ones by
    // address, so that any spelling of it matches.
    if (filter.find(':') == std::string::npos) return false;
    const auto wanted = ParseIp6(filter);
    return wanted && RemoteIp6(remote) == wanted;
}

bool Matches(const TRuleItem& rule, const TRuleConnection& connection) {
    // The conditions are alternatives: any switched-on one that holds is enough.
    return (rule.EnIPFilter && AddressMatches(rule.IPFilter, connection.RemoteAddress)) ||
           (rule.EnLocalPortFilter && rule.LocalPortFilter == connection.LocalPort) ||
           (rule.EnRemotePortFilter && rule.RemotePortFilter == connection.RemotePort);
}

void RunActions(const TRuleItem& rule, const TRuleConnection& connection, TRuleActions& actions) {
    const std::string prefix = "Enabled Rules:" + rule.RulesName;
    const std::optional<TLogConnection>& about = connection.Details;
    if (rule.EnRunAction && actions.FileExists(rule.RunAction)) {
        actions.RunProgram(rule.RunAction);
        actions.AddLog(prefix + ",Run the Program files:" + rule.RunAction, lkRule, about);
    }
    if (rule.EnWavAction && actions.FileExists(rule.WavAction)) {
        actions.PlayWav(rule.WavAction);
        actions.AddLog(prefix + ",Play the wave files:" + rule.WavAction, lkRule, about);
    }
    if (rule.EnKillAction) {
        // A connection that ended before any refresh listed it has no row:
        // there is nothing left to close, and no row may stand in for it.
        if (connection.RowIndex == kEndedConnectionRow) {
            actions.AddLog(prefix + kRuleKillLine + " It had already closed.", lkRule, about);
        } else {
            if (actions.IsEstablished(connection.RowIndex)) actions.KillConnection(connection.RowIndex);
            actions.AddLog(prefix + kRuleKillLine, lkRule, about);
        }
    }
    if (rule.EnPopupAction) {
        actions.ShowPopup(rule.RulesName, rule.PopupMsg);
        actions.AddLog(prefix + ",Popup Messages:" + rule.PopupMsg, lkRule, about);
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

#include "rules/rule_items.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "common/file_names.h"
#include "common/ini_file.h"
#include "common/text_util.h"
#include "rules/ini_file_io.h"

namespace tarnwick {

namespace {

constexpr const char* kAllSection = "ALL";
constexpr const char* kRulesFileName = "rules.dat";

std::string ItemSection(size_t position) {
    return "Item" + std::to_string(position);
}

void ReadRule(const TIniFile& ini, const std::string& section, TRuleItem& rule) {
    rule.RulesName = ini.ReadString(section, "RulesName", "");
    rule.EnabledRules = ini.ReadBool(section, "EnabledRules", false);
    rule.EnIPFilter = ini.ReadBool(section, "EnIPFilter", false);
    rule.EnLocalPortFilter = ini.ReadBool(section, "EnLocalPortFilter", false);
    rule.EnRemotePortFilter = ini.ReadBool(section, "EnRemotePortFilter", false);
    rule.EnRunAction = ini.ReadBool(section, "EnRunAction", false);
    rule.EnWavAction = ini.ReadBool(section, "EnWavAction", false);
    rule.EnKillAction = ini.ReadBool(section, "EnKillAction", false);
    rule.EnPopupAction = ini.ReadBool(section, "EnPopupAction", false);
    rule.IPFilter = ini.ReadString(section, "IPFilter", "0.0.0.0");
    rule.LocalPortFilter = ini.ReadInteger(section, "LocalPortFilter", 0);
    rule.RemotePortFilter = ini.ReadInteger(section, "RemotePortFilter", 0);
    rule.RunAction = ini.ReadString(section, "RunAction", "");
    rule.WavAction = ini.ReadString(section, "WavAction", "");
    rule.PopupMsg = ini.ReadString(section, "PopupMsg", "");
}

void WriteRule(TIniFile& ini, const std::string& section, const TRuleItem& rule) {
    ini.WriteString(section, "RulesName", rule.RulesName);
    ini.WriteBool(section, "EnabledRules", rule.EnabledRules);
    ini.WriteBool(section, "EnIPFilter", rule.EnIPFilter);
    ini.WriteBool(section, "EnLocalPortFilter", rule.EnLocalPortFilter);
    ini.WriteBool(section, "EnRemotePortFilter", rule.EnRemotePortFilter);
    ini.WriteBool(section, "EnRunAction", rule.EnRunAction);
    ini.WriteBool(section, "EnWavAction", rule.EnWavAction);
    ini.WriteBool(section, "EnKillAction", rule.EnKillAction);
    ini.WriteBool(section, "EnPopupAction", rule.EnPopupAction);
    ini.WriteString(section, "IPFilter", rule.IPFilter);
    ini.WriteInteger(section, "LocalPortFilter", rule.LocalPortFilter);
    ini.WriteInteger(section, "RemotePortFilter", rule.RemotePortFilter);
    ini.WriteString(section, "RunAction", rule.RunAction);
    ini.WriteString(section, "WavAction", rule.WavAction);
    ini.WriteString(section, "PopupMsg", rule.PopupMsg);
}

}  // namespace

TRuleItem& TRuleItems::Add() {
    return *Items_.emplace_back(std::make_unique<TRuleItem>(this));
}

size_t TRuleItems::CheckedIndex(int index) {
    if (index < 0) throw std::out_of_range("no rule at position " + std::to_string(index));
    return static_cast<size_t>(index);  // at() checks the upper end
}

void TRuleItems::Delete(int index) {
    if (index < 0 || index >= Count()) throw std::out_of_range("no rule at position " + std::to_string(index));
    Items_.erase(Items_.begin() + index);
}

void TRuleItems::LoadFromFile(const std::string& path) {
    const std::optional<TIniFile> ini = LoadExistingIniFile(path);
    if (!ini) return;
    Clear();
    const int32_t count = std::min(ini->ReadInteger(kAllSection, "Count", 0), kMaxLoadedRules);
    for (int32_t n = 1; n <= count; ++n) ReadRule(*ini, ItemSection(static_cast<size_t>(n)), Add());
}

void TRuleItems::SaveToFile(const std::string& path) const {
    TIniFile ini = LoadIniFileForSaving(path);
    ini.WriteInteger(kAllSection, "Count", Count());
    for (size_t i = 0; i < Items_.size(); ++i) WriteRule(ini, ItemSection(i + 1), *Items_[i]);
    SaveIniFile(ini, path);
}

void KeepUneditedRuleTexts(TRuleItem& edited, const TRuleItem& shown, const TRuleItem& before) {
    for (std::string TRuleItem::*text : {&TRuleItem::RunAction, &TRuleItem::WavAction, &TRuleItem::PopupMsg}) {
        if (edited.*text == shown.*text) edited.*text = before.*text;
    }
}

std::string RulesFilePath(const std::string& settingsDir) {
    return FindFileIgnoringCase(settingsDir, kRulesFileName);
}

}  // namespace tarnwick

// The user's alert rules, in the order they are tried, and rules.dat, the INI
// file beside the executable that keeps them between runs.
//
// rules.dat: section "ALL" with "Count", then one section per rule, "Item1",
// "Item2", ... (1-based, no leading zeros), each with the fifteen keys named
// like the fields, in the order RulesName, EnabledRules, EnIPFilter,
// EnLocalPortFilter, EnRemotePortFilter, EnRunAction, EnWavAction,
// EnKillAction, EnPopupAction, IPFilter, LocalPortFilter, RemotePortFilter,
// RunAction, WavAction, PopupMsg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick {

class TRuleItems;

// One rule: a name, an on/off switch, three conditions and four actions, each
// with a switch of its own. Each field is named after the key it is stored
// under. A new rule has every switch off, both ports 0 and every text empty.
class TRuleItem {
public:
    explicit TRuleItem(TRuleItems* collection) : Collection_(collection) {}

    bool EnKillAction = false;        // close the connection
    bool EnRemotePortFilter = false;  // condition: remote port equals RemotePortFilter
    bool EnLocalPortFilter = false;   // condition: local port equals LocalPortFilter
    bool EnPopupAction = false;       // show the alert popup with PopupMsg
    bool EnRunAction = false;         // run the program RunAction
    bool EnIPFilter = false;          // condition: remote address equals IPFilter
    bool EnWavAction = false;         // play the WAV file WavAction
    int32_t RemotePortFilter = 0;
    int32_t LocalPortFilter = 0;
    std::string PopupMsg;
    std::string RunAction;  // full path of the program
    std::string IPFilter;   // dotted decimal or RFC 5952 IPv6; "0.0.0.0" when the file lacks it
    bool EnabledRules = false;  // the rule as a whole
    std::string WavAction;  // full path of the WAV file
    std::string RulesName;  // heads the popup and the rule's log lines; need not be unique

    // The list that holds this rule.
    TRuleItems* Collection() const { return Collection_; }

private:
    TRuleItems* Collection_;
};

class TRuleItems {
public:
    // A "Count" in the file above this loads this many rules: a damaged count
    // must not make the program fill its memory with empty rules.
    static constexpr int32_t kMaxLoadedRules = 100000;

    TRuleItems() = default;
    // Rules point back at their list, so the list stays where it was made.
    TRuleItems(const TRuleItems&) = delete;
    TRuleItems& operator=(const TRuleItems&) = delete;

    // Appends a new rule and returns it. References to rules stay valid until
    // those rules are deleted.
    TRuleItem& Add();
    // The rule at a 0-based position; std::out_of_range outside 0..Count-1.
    TRuleItem& Items(int index) { return *Items_.at(CheckedIndex(index)); }
    const TRuleItem& Items(int index) const { return *Items_.at(CheckedIndex(index)); }
    int Count() const { return static_cast<int>(Items_.size()); }
    void Clear() { Items_.clear(); }
    // Removes the rule at a position; later rules move up by one.
    // std::out_of_range outside 0..Count-1.
    void Delete(int index);

    // Replaces the list with the rules in the file. When there is no file the
    // list stays exactly as it was. "Count" rules are read from "Item1"
    // onwards; a missing section or key, or a malformed number, gives that
    // field's default (IPFilter "0.0.0.0"). Throws TIniReadError, leaving the
    // list as it was, when the file is there but cannot be read: no
    // permission, or not a regular file (a folder, a FIFO or a device: found
    // at once, never waited on), or larger than kMaxReadFileSize; Cause()
    // says which.
    void LoadFromFile(const std::string& path);

    // Writes "Count" and every rule's fifteen keys into the file, created when
    // missing; everything else in it stays, sections beyond the new Count
    // too. The file is saved as SaveIniFile saves (replaced in one step
    // where it can be): on failure TIniWriteError ("Unable to write to
    // <path>") is thrown. A file that cannot be read is not written over.
    void SaveToFile(const std::string& path) const;

private:
    static size_t CheckedIndex(int index);

    std::vector<std::unique_ptr<TRuleItem>> Items_;
};

// After an editor has stored its fields into `edited`: each free text
// (RunAction, WavAction, PopupMsg) that the user left as the editor showed it
// (equal to `shown`, what the editor stored before the user acted) takes the
// bytes of the rule as it was before the edit, `before`, again. An editor
// that holds texts in Unicode turns bytes that are not UTF-8 (a rules file
// written in an 8-bit code page) into replacement characters; a rule edited
// in its other fields must not lose them.
void KeepUneditedRuleTexts(TRuleItem& edited, const TRuleItem& shown, const TRuleItem& before);

// The rules file in the settings folder `settingsDir`: an existing file whose name is
// "rules.dat" in any case ("Rules.dat", "RULES.DAT", ...), else "rules.dat".
// Of several, "rules.dat" itself is taken, else the first name in byte order.
std::string RulesFilePath(const std::string& settingsDir);

}  // namespace tarnwick

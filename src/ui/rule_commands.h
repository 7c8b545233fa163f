// The Add, Edit and Remove commands of the rules page of the Options dialog.
// Each changes the rule list and the rules list view at the same position at
// once; nothing is written to the rules file until the dialog is confirmed.
#pragma once

#include <functional>
#include <optional>
#include <string>

class QTreeWidget;
class QWidget;

namespace tarnwick {

class TMessageBoxes;
class TRuleItems;
class TRulesEdit_F;

class TRuleCommands {
public:
    // The "Input the Name of the rule" dialog: the name, or nullopt on Cancel.
    using TAskName = std::function<std::optional<std::string>(QWidget* parent, const std::string& proposed)>;
    // Shows the editor modally; true for OK.
    using TRunEditor = std::function<bool(TRulesEdit_F& editor)>;

    TRuleCommands(TRuleItems& rules, QTreeWidget* lsvRules, TRulesEdit_F& editor, TMessageBoxes& boxes,
                  TAskName askName, TRunEditor runEditor);

    void btnAddClick();
    void btnEditClick();  // also the list's double click
    void btnRemoveClick();

private:
    TRuleItems& Rules_;
    QTreeWidget* LsvRules_;
    TRulesEdit_F& Editor_;
    TMessageBoxes& Boxes_;
    TAskName AskName_;
    TRunEditor RunEditor_;
};

// The standard askers: a QInputDialog, and the editor's exec().
std::optional<std::string> AskRuleName(QWidget* parent, const std::string& proposed);
bool RunRulesEditor(TRulesEdit_F& editor);

}  // namespace tarnwick

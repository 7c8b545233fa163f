#include "ui/rule_commands.h"

#include <QInputDialog>
#include <QTreeWidget>

#include "common/kept_texts.h"
#include "rules/rule_items.h"
#include "ui/app_title.h"
#include "ui/message_boxes.h"
#include "ui/rules_edit_form.h"
#include "ui/rules_list_view.h"

namespace tarnwick {

namespace {

const QString kMustSelect = QString::fromLatin1(kMustSelectRule);

// The position of the selected row, or -1 when no row is selected.
int SelectedIndex(const QTreeWidget* list) {
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
}

}  // namespace

TRuleCommands::TRuleCommands(TRuleItems& rules, QTreeWidget* lsvRules, TRulesEdit_F& editor, TMessageBoxes& boxes,
                             TAskName askName, TRunEditor runEditor)
    : Rules_(rules),
      LsvRules_(lsvRules),
      Editor_(editor),
      Boxes_(boxes),
      AskName_(std::move(askName)),
      RunEditor_(std::move(runEditor)) {}

void TRuleCommands::btnAddClick() {
    const std::optional<std::string> name = AskName_(LsvRules_->window(), "New Rules");
    if (!name) return;
    Editor_.setWindowTitle(QString::fromStdString("Rule[" + *name + "]"));
    Editor_.ResetControls();
    if (!RunEditor_(Editor_)) return;

    // Off until its row is ticked and the Options dialog is confirmed.
    TRuleItem& rule = Rules_.Add();
    rule.RulesName = *name;
    rule.EnabledRules = false;
    Editor_.StoreToRule(rule);
    AppendRuleRow(LsvRules_, rule);
}

void TRuleCommands::btnEditClick() {
    const int index = SelectedIndex(LsvRules_);
    if (index < 0 || index >= Rules_.Count()) {
        Boxes_.Show(LsvRules_->window(), kMustSelect, kApplicationTitle, QMessageBox::Information);
        return;
    }
    const TRuleItem before = Rules_.Items(index);
    Editor_.setWindowTitle(QString::fromStdString(before.RulesName));
    Editor_.LoadFromRule(before);
    // The texts as the editor gives them back untouched: through QString,
    // bytes that are not UTF-8 would not come back as they were.
    TRuleItem untouched(nullptr);
    Editor_.StoreToRule(untouched);
    if (!RunEditor_(Editor_)) return;

    // The rule again by position: the list may have changed while the editor was open.
    if (index >= Rules_.Count()) return;
    TRuleItem& rule = Rules_.Items(index);
    // Off while the Options dialog is open: its OK applies the row's check box,
    // its Cancel brings the stored state back.
    rule.EnabledRules = false;
    Editor_.StoreToRule(rule);
    KeepUneditedRuleTexts(rule, untouched, before);
    if (QTreeWidgetItem* row = LsvRules_->topLevelItem(index)) SetRuleRowConditions(row, rule);
}

void TRuleCommands::btnRemoveClick() {
    const int index = SelectedIndex(LsvRules_);
    if (index < 0 || index >= Rules_.Count()) {
        Boxes_.Show(LsvRules_->window(), kMustSelect, kApplicationTitle, QMessageBox::Information);
        return;
    }
    if (!Boxes_.Ask(LsvRules_->window(), QStringLiteral("Are you sure Remove the Rule?"))) return;
    if (index >= Rules_.Count()) return;
    Rules_.Delete(index);
    delete LsvRules_->takeTopLevelItem(index);
}

std::optional<std::string> AskRuleName(QWidget* parent, const std::string& proposed) {
    QInputDialog dialog(parent);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(QStringLiteral("Input the Name of the rule"));
    dialog.setLabelText(QStringLiteral("Name"));
    dialog.setTextValue(QString::fromStdString(proposed));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.textValue().toStdString();
}

bool RunRulesEditor(TRulesEdit_F& editor) {
    return editor.exec() == QDialog::Accepted;
}

}  // namespace tarnwick

// lsvRules: the rules list of the Options dialog. One row per rule in list
// order: a check box (EnabledRules) in the "#" column, then the name, the
// address and the two port numbers, shown whether or not their conditions
// are switched on. Row i always stands for rule i.
#pragma once

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace tarnwick {

class TRuleItem;
class TRuleItems;

// The list with its five columns ("#" 20, "Rules Name" 100, "IP Address" 120,
// "Local Port" 70, "Remote Port" 90), whole-row selection, check boxes.
QTreeWidget* CreateRulesListView(QWidget* parent);

// Empties the list and adds one row per rule.
void FillRulesListView(QTreeWidget* list, const TRuleItems& rules);

// Appends a row for `rule`: its check box from EnabledRules, then the four texts.
QTreeWidgetItem* AppendRuleRow(QTreeWidget* list, const TRuleItem& rule);

// Rewrites the "IP Address", "Local Port" and "Remote Port" texts of `row`.
void SetRuleRowConditions(QTreeWidgetItem* row, const TRuleItem& rule);

// Whether the check box of row `index` is ticked.
bool RuleRowChecked(const QTreeWidget* list, int index);

}  // namespace tarnwick

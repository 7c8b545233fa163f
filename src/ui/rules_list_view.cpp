#include "ui/rules_list_view.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "rules/rule_items.h"

namespace tarnwick {

namespace {

enum TRuleColumn { kColCheck = 0, kColName, kColAddress, kColLocalPort, kColRemotePort, kColumnCount };

}  // namespace

QTreeWidget* CreateRulesListView(QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QStringLiteral("lsvRules"));
    list->setColumnCount(kColumnCount);
    list->setHeaderLabels({QStringLiteral("#"), QStringLiteral("Rules Name"), QStringLiteral("IP Address"),
                           QStringLiteral("Local Port"), QStringLiteral("Remote Port")});
    const int widths[kColumnCount] = {20, 100, 120, 70, 90};
    list->header()->setMinimumSectionSize(widths[kColCheck]);  // the style's own minimum is wider
    for (int column = 0; column < kColumnCount; ++column) list->setColumnWidth(column, widths[column]);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsMovable(false);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setAllColumnsShowFocus(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return list;
}

void FillRulesListView(QTreeWidget* list, const TRuleItems& rules) {
    list->clear();
    for (int i = 0; i < rules.Count(); ++i) AppendRuleRow(list, rules.Items(i));
}

QTreeWidgetItem* AppendRuleRow(QTreeWidget* list, const TRuleItem& rule) {
    auto* row = new QTreeWidgetItem(list);
    row->setFlags((row->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
    row->setCheckState(kColCheck, rule.EnabledRules ? Qt::Checked : Qt::Unchecked);
    row->setText(kColName, QString::fromStdString(rule.RulesName));
    SetRuleRowConditions(row, rule);
    return row;
}

void SetRuleRowConditions(QTreeWidgetItem* row, const TRuleItem& rule) {
    row->setText(kColAddress, QString::fromStdString(rule.IPFilter));
    row->setText(kColLocalPort, QString::number(rule.LocalPortFilter));
    row->setText(kColRemotePort, QString::number(rule.RemotePortFilter));
}

bool RuleRowChecked(const QTreeWidget* list, int index) {
    const QTreeWidgetItem* row = list->topLevelItem(index);
    return row != nullptr && row->checkState(kColCheck) == Qt::Checked;
}

}  // namespace tarnwick

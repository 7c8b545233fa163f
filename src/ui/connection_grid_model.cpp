#include "ui/connection_grid_model.h"

#include <QScopedValueRollback>
#include <QTimer>

#include "monitor/location_texts.h"

namespace tarnwick {

TConnectionGridModel::TConnectionGridModel(QObject* parent) : QAbstractTableModel(parent) {}

int TConnectionGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Shown_; }

int TConnectionGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0
                            : kGridColumnCount + (ShowLocation_ ? kLocationColumnCount : 0) +
                                  (ShowTraffic_ ? kTrafficColumnCount : 0);
}

int TConnectionGridModel::GridColumnOfSection(int section) const {
    // The location columns sit between Process and the traffic columns, in
    // the list as in the grid; hidden, the traffic sections move up to them.
    if (section < kGridColumnCount || ShowLocation_) return section;
    return section + kLocationColumnCount;
}

int TConnectionGridModel::SectionOfGridColumn(int column) const {
    if (column < 0) return -1;
    if (column < kGridColumnCount) return column;
    if (column < kGridColumnCount + kLocationColumnCount) return ShowLocation_ ? column : -1;
    if (!ShowTraffic_ || column >= kGridColumnCount + kLocationColumnCount + kTrafficColumnCount) return -1;
    return ShowLocation_ ? column : column - kLocationColumnCount;
}

std::string TConnectionGridModel::ColumnText(int row, int section) const {
    const TGridColumn& column = GridColumns()[static_cast<size_t>(GridColumnOfSection(section))];
    if (row == 0) return std::string(column.Title);
    std::string scratch;
    return std::string(column.Text(Rows_.Row(row), scratch));
}

QVariant TConnectionGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Shown_) return {};
    // Filtered or sorted, a refresh may have taken rows away that the views
    // still show until its end.
    const int row = GridRowOf(index.row());
    if (row >= Rows_.RowCount()) return {};
    if (role == Qt::ToolTipRole && ShowLocation_ && index.column() == 0) {
        const std::string tip = LocationToolTip(Rows_.Row(row));
        return tip.empty() ? QVariant() : QVariant(QString::fromStdString(tip));
    }
    if (role != Qt::DisplayRole) return {};
    return QString::fromStdString(ColumnText(row, index.column()));
}

QVariant TConnectionGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    return QString::fromStdString(ColumnText(0, section));
}

void TConnectionGridModel::ResizeShown(int shown) {
    const QScopedValueRollback resizing(Resizing_, true);
    if (shown > Shown_) {
        beginInsertRows({}, Shown_, shown - 1);
        Shown_ = shown;
        endInsertRows();
    } else if (shown < Shown_) {
        beginRemoveRows({}, shown, Shown_ - 1);
        Shown_ = shown;
        endRemoveRows();
    }
}

void TConnectionGridModel::SetGridRowCount(int rows) {
    AnnounceWrittenRows();
    Rows_.SetRowCount(rows);
    // Filtered or sorted, the views learn of the rows once they are written.
    if (!View_.Active()) ResizeShown(Rows_.RowCount() - 1);
}

void TConnectionGridModel::WriteGridRow(int row, const TConnectionRow& texts) {
    if (row < 1 || row >= Rows_.RowCount()) return;
    Rows_.WriteRow(row, texts);
    if (View_.Active()) return;
    const int modelRow = row - 1;
    DirtyFirst_ = DirtyFirst_ < 0 ? modelRow : std::min(DirtyFirst_, modelRow);
    DirtyLast_ = std::max(DirtyLast_, modelRow);
    if (!AnnounceQueued_) {
        AnnounceQueued_ = true;
        QTimer::singleShot(0, this, &TConnectionGridModel::AnnounceWrittenRows);
    }
}

void TConnectionGridModel::AnnounceWrittenRows() {
    AnnounceQueued_ = false;
    if (DirtyFirst_ < 0) return;
    const int first = DirtyFirst_, last = std::min(DirtyLast_, rowCount() - 1);
    DirtyFirst_ = DirtyLast_ = -1;
    if (first <= last) emit dataChanged(index(first, 0), index(last, columnCount() - 1), {Qt::DisplayRole});
}

void TConnectionGridModel::ShowRefreshedRows() {
    if (View_.Active()) {
        ShowView();
    } else {
        AnnounceWrittenRows();
    }
}

void TConnectionGridModel::SetFilter(std::string_view text) {
    View_.SetFilter(text);
    ShowView();
}

void TConnectionGridModel::SetSort(const std::optional<TGridSort>& sort) {
    View_.SetSort(sort);
    ShowView();
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);  // the sort's mark
}

void TConnectionGridModel::ShowView() {
    DirtyFirst_ = DirtyLast_ = -1;  // every row is announced here
    View_.Update(Rows_);
    ResizeShown(View_.Active() ? View_.ShownCount() : Rows_.RowCount() - 1);
    if (Shown_ > 0) emit dataChanged(index(0, 0), index(Shown_ - 1, columnCount() - 1), {Qt::DisplayRole});
}

void TConnectionGridModel::SetShowTraffic(bool show) {
    SwitchColumns(ShowTraffic_, show, kGridColumnCount + (ShowLocation_ ? kLocationColumnCount : 0),
                  kTrafficColumnCount);
}

void TConnectionGridModel::SetShowLocation(bool show) {
    SwitchColumns(ShowLocation_, show, kGridColumnCount, kLocationColumnCount);
}

void TConnectionGridModel::SwitchColumns(bool& shown, bool show, int first, int count) {
    if (show == shown) return;
    if (show) {
        beginInsertColumns({}, first, first + count - 1);
        shown = true;
        endInsertColumns();
    } else {
        beginRemoveColumns({}, first, first + count - 1);
        shown = false;
        endRemoveColumns();
    }
}

}  // namespace tarnwick

#include "ui/connection_grid_model.h"

#include <QScopedValueRollback>
#include <QTimer>

namespace tarnwick {

TConnectionGridModel::TConnectionGridModel(QObject* parent) : QAbstractTableModel(parent) {}

int TConnectionGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows_.RowCount() - 1;
}

int TConnectionGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kGridColumnCount + (ShowTraffic_ ? kTrafficColumnCount : 0);
}

QVariant TConnectionGridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() + 1 >= Rows_.RowCount()) return {};
    return QString::fromStdString(Rows_.CellText(index.row() + 1, index.column()));
}

QVariant TConnectionGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    return QString::fromStdString(Rows_.CellText(0, section));
}

void TConnectionGridModel::SetGridRowCount(int rows) {
    AnnounceWrittenRows();
    const int before = rowCount();
    const int after = (rows < 2 ? 2 : rows) - 1;
    const QScopedValueRollback resizing(Resizing_, true);
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        Rows_.SetRowCount(rows);
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows({}, after, before - 1);
        Rows_.SetRowCount(rows);
        endRemoveRows();
    }
}

void TConnectionGridModel::WriteGridRow(int row, const TConnectionRow& texts) {
    if (row < 1 || row >= Rows_.RowCount()) return;
    Rows_.WriteRow(row, texts);
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

void TConnectionGridModel::SetShowTraffic(bool show) {
    if (show == ShowTraffic_) return;
    const int first = kGridColumnCount, last = kGridColumnCount + kTrafficColumnCount - 1;
    if (show) {
        beginInsertColumns({}, first, last);
        ShowTraffic_ = true;
        endInsertColumns();
    } else {
        beginRemoveColumns({}, first, last);
        ShowTraffic_ = false;
        endRemoveColumns();
    }
}

}  // namespace tarnwick

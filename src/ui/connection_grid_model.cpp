#include "ui/connection_grid_model.h"

#include <QScopedValueRollback>
#include <QTimer>

#include "monitor/location_texts.h"

namespace tarnwick {

TConnectionGridModel::TConnectionGridModel(QObject* parent) : QAbstractTableModel(parent) {}

int TConnectionGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows_.RowCount() - 1;
}

int TConnectionGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0
                            : kGridColumnCount + (ShowLocation_ ? kLocationColumnCount : 0) +
                                  (ShowTraffic_ ? kTrafficColumnCount : 0);
}

std::string TConnectionGridModel::ColumnText(int row, int column) const {
    const int locationColumns = ShowLocation_ ? kLocationColumnCount : 0;
    if (column < kGridColumnCount || column >= kGridColumnCount + locationColumns)
        return Rows_.CellText(row, column - (column < kGridColumnCount ? 0 : locationColumns));
    const int locationColumn = column - kGridColumnCount;
    if (row == 0) return std::string(kLocationHeaders.at(static_cast<size_t>(locationColumn)));
    return LocationCellText(Rows_.Row(row), locationColumn);
}

QVariant TConnectionGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() + 1 >= Rows_.RowCount()) return {};
    if (role == Qt::ToolTipRole && ShowLocation_ && index.column() == 0) {
        const std::string tip = LocationToolTip(Rows_.Row(index.row() + 1));
        return tip.empty() ? QVariant() : QVariant(QString::fromStdString(tip));
    }
    if (role != Qt::DisplayRole) return {};
    return QString::fromStdString(ColumnText(index.row() + 1, index.column()));
}

QVariant TConnectionGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    return QString::fromStdString(ColumnText(0, section));
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

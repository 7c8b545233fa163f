// The connection grid's rows as a table model. Row 0 of the grid (the
// titles) is the view's header; model row m is grid row m + 1.
//
// A refresh writes thousands of rows; the views hear of the written rows once
// per event-loop turn, as one range, rather than once per row.
#pragma once

#include <QAbstractTableModel>

#include "monitor/grid_rows.h"
#include "session/grid_outlet.h"

namespace tarnwick {

class TConnectionGridModel final : public QAbstractTableModel, public TGridOutlet {
    Q_OBJECT
public:
    explicit TConnectionGridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The grid's own numbering: header row included.
    int GridRowCount() const override { return Rows_.RowCount(); }
    void SetGridRowCount(int rows) override;
    void WriteGridRow(int row, const TConnectionRow& texts) override;
    const TGridRows& Rows() const { return Rows_; }
    // True while SetGridRowCount adds or takes away rows: a selection that
    // changes then was moved by the views, not by the user.
    bool Resizing() const { return Resizing_; }

    // The four traffic columns after Process, or the six columns alone.
    void SetShowTraffic(bool show);
    bool ShowTraffic() const { return ShowTraffic_; }
    // The Country and Network columns right after Process (before any
    // traffic columns), and the location as the remote address's tooltip.
    void SetShowLocation(bool show);
    bool ShowLocation() const { return ShowLocation_; }

    // Tells the views of the rows written since the last call (done by itself
    // at the next event-loop turn).
    void AnnounceWrittenRows();

private:
    // The text of model column `column` of grid row `row` (0: the titles).
    std::string ColumnText(int row, int column) const;
    // Shows or hides the `count` columns from `first` that `shown` says are shown.
    void SwitchColumns(bool& shown, bool show, int first, int count);

    TGridRows Rows_;
    int DirtyFirst_ = -1;
    int DirtyLast_ = -1;
    bool AnnounceQueued_ = false;
    bool ShowTraffic_ = false;
    bool ShowLocation_ = false;
    bool Resizing_ = false;
};

}  // namespace tarnwick

// The connection grid's rows as a table model. Row 0 of the grid (the
// titles) is the view's header. Without a filter or sort, model row m is grid
// row m + 1; with one, the model shows the rows of its TGridView, in its
// order, and works them out anew when a refresh has written every row.
//
// A refresh writes thousands of rows; the views hear of the written rows once
// per event-loop turn, as one range, rather than once per row (or, filtered
// or sorted, once at the refresh's end, so that the rows never show half
// placed).
#pragma once

#include <QAbstractTableModel>

#include <optional>
#include <string_view>

#include "monitor/grid_rows.h"
#include "monitor/grid_view.h"
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
    // True while the rows shown are added or taken away: a selection that
    // changes then was moved by the views, not by the user.
    bool Resizing() const { return Resizing_; }

    // The four traffic columns after Process, or the six columns alone.
    void SetShowTraffic(bool show);
    bool ShowTraffic() const { return ShowTraffic_; }
    // The Country and Network columns right after Process (before any
    // traffic columns), and the location as the remote address's tooltip.
    void SetShowLocation(bool show);
    bool ShowLocation() const { return ShowLocation_; }
    // The column of GridColumns() that column `section` of the model shows,
    // and the section that shows `column` (-1 while it is hidden).
    int GridColumnOfSection(int section) const;
    int SectionOfGridColumn(int column) const;

    // The filter's words and the sort; the rows shown change at once.
    void SetFilter(std::string_view text);
    void SetSort(const std::optional<TGridSort>& sort);
    const TGridView& View() const { return View_; }
    // The grid row that model row `modelRow` shows, and the model row that
    // shows grid row `gridRow` (-1 when none does).
    int GridRowOf(int modelRow) const { return View_.GridRowAt(modelRow); }
    int ModelRowOf(int gridRow) const { return View_.PositionOf(gridRow); }

    // Tells the views of the rows written since the last call (done by itself
    // at the next event-loop turn).
    void AnnounceWrittenRows();
    // A refresh has written every row: filtered or sorted, they are placed now.
    void ShowRefreshedRows();

private:
    // The text of section `section` of grid row `row` (0: the titles).
    std::string ColumnText(int row, int section) const;
    // Shows or hides the `count` columns from `first` that `shown` says are shown.
    void SwitchColumns(bool& shown, bool show, int first, int count);
    // Works the view out and shows its rows.
    void ShowView();
    // The views see `shown` rows from now on.
    void ResizeShown(int shown);

    TGridRows Rows_;
    TGridView View_;
    int Shown_ = 1;  // the rows the views know of: a new grid's blank row
    int DirtyFirst_ = -1;
    int DirtyLast_ = -1;
    bool AnnounceQueued_ = false;
    bool ShowTraffic_ = false;
    bool ShowLocation_ = false;
    bool Resizing_ = false;
};

}  // namespace tarnwick

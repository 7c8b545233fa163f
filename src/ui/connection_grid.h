// grdNetStatList: the connection grid. Six equal columns, 18-pixel rows,
// whole-row selection, a grey ruled header with shadowed titles and green
// text on black in the data rows. A click on a title sorts by its column;
// rows are selected one or several at a time (Shift, Ctrl).
#pragma once

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>

#include <optional>
#include <string>
#include <vector>

#include "monitor/connection_key.h"
#include "monitor/grid_sort.h"

namespace tarnwick {

class TConnectionGridModel;

inline constexpr int kGridRowHeight = 18;

// The header row: grey, ruled with a black line every third pixel, the
// title in black shifted one pixel down and right under the title in white;
// the column sorted by carries a white triangle, pointing up or down.
class TGridHeaderView final : public QHeaderView {
    Q_OBJECT
public:
    explicit TGridHeaderView(QWidget* parent = nullptr);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};

// A data cell: black, with its text in green three pixels in from the top left.
class TGridCellDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class TConnectionGrid final : public QTableView {
    Q_OBJECT
public:
    explicit TConnectionGrid(QWidget* parent = nullptr);

    // All six columns get this width.
    void SetDefaultColWidth(int width);
    int DefaultColWidth() const;

    // The grid row of the current row (data rows from 1) when it is
    // selected, or 0: the row the commands act on, among several selected.
    int SelectedGridRow() const;
    // The selected rows as text, in the order shown: the titles' line and a
    // line per row, as the command line's table writes them.
    std::string SelectedRowsText() const;

    void setModel(QAbstractItemModel* model) override;

    // Shows only the rows that hold every word of `text`, and sorts them by
    // `sort`; the selection stays on its connections while they are shown.
    void ApplyFilter(const std::string& text);
    void ApplySort(const std::optional<TGridSort>& sort);

    // The selection stays on its connections through a refresh that moves
    // them to other rows: noted as the refresh starts, followed once the rows
    // are written. Connections that are gone leave the selection where the
    // refresh left it, and so does a row the user selected meanwhile.
    void NoteSelectedConnection();
    void FollowSelectedConnection();

signals:
    // The user clicked a title: the rows are sorted anew.
    void SortChanged();

private:
    // The connections of the selected rows, and of the current one.
    struct TFollowed {
        std::vector<TConnectionKey> Selected;
        std::optional<TConnectionKey> Current;
    };
    TFollowed SelectedConnections() const;
    // Selects the rows that show `followed` now, if any moved. `dropHidden`:
    // a selection none of whose connections is shown is cleared, not left.
    void SelectConnections(const TFollowed& followed, bool dropHidden);
    void SortByColumn(int section);

    TFollowed Followed_;
    bool ChosenMeanwhile_ = false;  // the user selected since the refresh started
    bool Following_ = false;        // the selection is being moved to its connections
};

}  // namespace tarnwick

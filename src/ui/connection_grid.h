// grdNetStatList: the connection grid. Six equal columns, 18-pixel rows,
// whole-row selection, a grey ruled header with shadowed titles and green
// text on black in the data rows.
#pragma once

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>

#include <optional>

#include "monitor/connection_key.h"

namespace tarnwick {

class TConnectionGridModel;

inline constexpr int kGridRowHeight = 18;

// The header row: grey, ruled with a black line every third pixel, the
// title in black shifted one pixel down and right under the title in white.
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

    // The selected grid row (data rows from 1), or 0 when none is selected.
    int SelectedGridRow() const;

    void setModel(QAbstractItemModel* model) override;

    // The selection stays on its connection through a refresh that moves it
    // to another row: noted as the refresh starts, followed once the rows
    // are written. A connection that is gone leaves the selection where the
    // refresh left it, and so does a row the user selected meanwhile.
    void NoteSelectedConnection();
    void FollowSelectedConnection();

private:
    std::optional<TConnectionKey> Followed_;
    bool ChosenMeanwhile_ = false;  // the user selected since the refresh started
};

}  // namespace tarnwick

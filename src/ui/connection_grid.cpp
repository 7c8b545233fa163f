#include "ui/connection_grid.h"

#include <QPainter>
#include <QScopedValueRollback>

#include <algorithm>
#include <utility>

#include "ui/connection_grid_model.h"

namespace tarnwick {

namespace {

QFont GridFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    return font;
}

const QColor kHeaderGrey(0x80, 0x80, 0x80);
const QColor kDataGreen(0x00, 0xFF, 0x00);
// The selected row: dark green under the green text, so the row stands out and stays readable.
const QColor kSelectedRow(0x00, 0x40, 0x00);
constexpr int kTextInset = 3;
constexpr int kSortMarkSize = 8;

}  // namespace

TGridHeaderView::TGridHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setFont(GridFont());
    setFixedHeight(kGridRowHeight);
    setSectionsClickable(true);
    setHighlightSections(false);
}

void TGridHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    painter->setClipRect(rect);
    painter->fillRect(rect, kHeaderGrey);
    painter->setPen(Qt::black);
    const int height = rect.height();
    for (int k = 0; k <= height / 3; ++k) {
        const int y = rect.top() + 3 * k;
        painter->drawLine(rect.left(), y, rect.right(), y);
    }
    const QString title = model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
    painter->setFont(font());
    const QRect textArea = rect.adjusted(kTextInset, kTextInset, 0, 0);
    painter->drawText(textArea, Qt::AlignLeft | Qt::AlignTop, title);
    painter->setPen(Qt::white);
    painter->drawText(textArea.translated(-1, -1), Qt::AlignLeft | Qt::AlignTop, title);
    const auto* grid = qobject_cast<const TConnectionGridModel*>(model());
    const auto sort = grid ? grid->View().Sort() : std::nullopt;
    if (sort && grid->SectionOfGridColumn(sort->Column) == logicalIndex) {
        // A triangle at the right: pointing up while ascending.
        const int left = rect.right() - kTextInset - kSortMarkSize, right = left + kSortMarkSize;
        const int top = rect.center().y() - kSortMarkSize / 2, bottom = top + kSortMarkSize;
        const int base = sort->Descending ? top : bottom, tip = sort->Descending ? bottom : top;
        const QPolygon mark({{left, base}, {right, base}, {(left + right) / 2, tip}});
        painter->setPen(Qt::black);
        painter->setBrush(Qt::white);
        painter->drawPolygon(mark);
    }
    painter->restore();
}

void TGridCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    painter->save();
    painter->setClipRect(option.rect);
    painter->fillRect(option.rect, option.state & QStyle::State_Selected ? kSelectedRow : QColor(Qt::black));
    painter->setPen(kDataGreen);
    painter->setFont(option.font);
    painter->drawText(option.rect.adjusted(kTextInset, kTextInset, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

TConnectionGrid::TConnectionGrid(QWidget* parent) : QTableView(parent) {
    setObjectName(QStringLiteral("grdNetStatList"));
    setHorizontalHeader(new TGridHeaderView(this));
    setItemDelegate(new TGridCellDelegate(this));
    setFont(GridFont());
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(kGridRowHeight);  // else the style's minimum wins
    verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setShowGrid(false);
    setFrameShape(QFrame::NoFrame);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Window, Qt::black);
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &TConnectionGrid::SortByColumn);
}

void TConnectionGrid::SetDefaultColWidth(int width) {
    horizontalHeader()->setDefaultSectionSize(width);
    for (int column = 0; column < horizontalHeader()->count(); ++column) horizontalHeader()->resizeSection(column, width);
}

int TConnectionGrid::DefaultColWidth() const { return horizontalHeader()->defaultSectionSize(); }

int TConnectionGrid::SelectedGridRow() const {
    const auto* grid = qobject_cast<const TConnectionGridModel*>(model());
    const QModelIndex current = currentIndex();
    if (!grid || !current.isValid() || !selectionModel() || !selectionModel()->isRowSelected(current.row(), {}))
        return 0;
    return grid->GridRowOf(current.row());
}

std::string TConnectionGrid::SelectedRowsText() const {
    const auto* grid = qobject_cast<const TConnectionGridModel*>(model());
    if (!grid || !selectionModel()) return {};
    std::vector<int> shown;
    for (const QModelIndex& index : selectionModel()->selectedRows()) shown.push_back(index.row());
    std::sort(shown.begin(), shown.end());
    std::vector<int> rows;
    for (const int modelRow : shown) {
        const int row = grid->GridRowOf(modelRow);
        if (row < grid->Rows().RowCount() && grid->Rows().Row(row).Key) rows.push_back(row);  // not the blank row
    }
    if (rows.empty()) return {};
    return grid->Rows().RowsText(rows, grid->ShowTraffic() ? std::optional(TTrafficNumbers::Human) : std::nullopt,
                                 grid->ShowLocation());
}

void TConnectionGrid::setModel(QAbstractItemModel* model) {
    QTableView::setModel(model);
    const auto chosen = [this] {
        const auto* grid = qobject_cast<const TConnectionGridModel*>(this->model());
        if (!Following_ && (!grid || !grid->Resizing())) ChosenMeanwhile_ = true;
    };
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, chosen);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, chosen);
}

void TConnectionGrid::ApplyFilter(const std::string& text) {
    auto* grid = qobject_cast<TConnectionGridModel*>(model());
    if (!grid) return;
    const TFollowed followed = SelectedConnections();
    grid->SetFilter(text);
    SelectConnections(followed, true);
}

void TConnectionGrid::ApplySort(const std::optional<TGridSort>& sort) {
    auto* grid = qobject_cast<TConnectionGridModel*>(model());
    if (!grid) return;
    const TFollowed followed = SelectedConnections();
    grid->SetSort(sort);
    SelectConnections(followed, true);
}

void TConnectionGrid::SortByColumn(int section) {
    const auto* grid = qobject_cast<const TConnectionGridModel*>(model());
    if (!grid) return;
    ApplySort(NextGridSort(grid->View().Sort(), grid->GridColumnOfSection(section)));
    emit SortChanged();
}

TConnectionGrid::TFollowed TConnectionGrid::SelectedConnections() const {
    TFollowed followed;
    const auto* grid = qobject_cast<const TConnectionGridModel*>(model());
    if (!grid || !selectionModel()) return followed;
    const TGridRows& rows = grid->Rows();
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        const int row = grid->GridRowOf(index.row());
        if (row < rows.RowCount() && rows.Row(row).Key) followed.Selected.push_back(*rows.Row(row).Key);
    }
    if (const int current = SelectedGridRow(); current > 0 && current < rows.RowCount())
        followed.Current = rows.Row(current).Key;
    return followed;
}

void TConnectionGrid::SelectConnections(const TFollowed& followed, bool dropHidden) {
    const auto* grid = qobject_cast<const TConnectionGridModel*>(model());
    if (!grid || !selectionModel() || followed.Selected.empty()) return;
    const QScopedValueRollback following(Following_, true);
    const auto shownAt = [grid](const TConnectionKey& key) {
        const int row = grid->Rows().RowOf(key);
        return row > 0 ? grid->ModelRowOf(row) : -1;
    };
    std::vector<int> rows;
    for (const TConnectionKey& key : followed.Selected)
        if (const int shown = shownAt(key); shown >= 0) rows.push_back(shown);
    if (rows.empty()) {
        if (dropHidden) clearSelection();
        return;
    }
    std::sort(rows.begin(), rows.end());
    const int current = followed.Current ? shownAt(*followed.Current) : -1;
    std::vector<int> selected;
    for (const QModelIndex& index : selectionModel()->selectedRows()) selected.push_back(index.row());
    std::sort(selected.begin(), selected.end());
    if (selected == rows && (current < 0 || current == currentIndex().row())) return;  // nothing moved

    QItemSelection selection;
    for (size_t first = 0; first < rows.size();) {
        size_t last = first;
        while (last + 1 < rows.size() && rows[last + 1] == rows[last] + 1) ++last;
        selection.select(model()->index(rows[first], 0), model()->index(rows[last], model()->columnCount() - 1));
        first = last + 1;
    }
    if (current >= 0) selectionModel()->setCurrentIndex(model()->index(current, 0), QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TConnectionGrid::NoteSelectedConnection() {
    Followed_ = SelectedConnections();
    ChosenMeanwhile_ = false;
}

void TConnectionGrid::FollowSelectedConnection() {
    const TFollowed followed = std::exchange(Followed_, TFollowed{});
    if (!ChosenMeanwhile_) SelectConnections(followed, false);
}

}  // namespace tarnwick

#include "ui/connection_grid.h"

#include <QPainter>

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

}  // namespace

TGridHeaderView::TGridHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setFont(GridFont());
    setFixedHeight(kGridRowHeight);
    setSectionsClickable(false);
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
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Window, Qt::black);
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);
}

void TConnectionGrid::SetDefaultColWidth(int width) {
    horizontalHeader()->setDefaultSectionSize(width);
    for (int column = 0; column < horizontalHeader()->count(); ++column) horizontalHeader()->resizeSection(column, width);
}

int TConnectionGrid::DefaultColWidth() const { return horizontalHeader()->defaultSectionSize(); }

int TConnectionGrid::SelectedGridRow() const {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || !selectionModel() || !selectionModel()->isRowSelected(current.row(), {})) return 0;
    return current.row() + 1;
}

void TConnectionGrid::setModel(QAbstractItemModel* model) {
    QTableView::setModel(model);
    const auto chosen = [this] {
        const auto* grid = qobject_cast<const TConnectionGridModel*>(this->model());
        if (!grid || !grid->Resizing()) ChosenMeanwhile_ = true;
    };
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, chosen);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, chosen);
}

void TConnectionGrid::NoteSelectedConnection() {
    const auto* grid = qobject_cast<const TConnectionGridModel*>(model());
    const int selected = SelectedGridRow();
    Followed_ = grid && selected > 0 ? grid->Rows().Row(selected).Key : std::nullopt;
    ChosenMeanwhile_ = false;
}

void TConnectionGrid::FollowSelectedConnection() {
    const auto* grid = qobject_cast<const TConnectionGridModel*>(model());
    const std::optional<TConnectionKey> followed = std::exchange(Followed_, std::nullopt);
    if (!grid || !followed || ChosenMeanwhile_) return;
    const int row = grid->Rows().RowOf(*followed);
    if (row > 0 && row != SelectedGridRow()) selectRow(row - 1);
}

}  // namespace tarnwick

#include "ui/log_list.h"

#include <QPainter>
#include <QTimer>

#include "ui/log_glyphs.h"

namespace tarnwick {

TLogListModel::TLogListModel(const TEventLog& log, QObject* parent) : QAbstractListModel(parent), Log_(log) {}

int TLogListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Shown_; }

QVariant TLogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Shown_ || static_cast<size_t>(index.row()) >= Log_.Count()) return {};
    const TLogEntry& entry = Log_.Entry(static_cast<size_t>(index.row()));
    if (role == Qt::DisplayRole) return QString::fromStdString(entry.Line);
    if (role == KindRole) return static_cast<int>(entry.Kind);
    return {};
}

void TLogListModel::Sync() {
    SyncQueued_ = false;
    const int count = static_cast<int>(Log_.Count());
    if (count < Shown_) {
        // Cleared (and perhaps refilled) since the last look.
        beginResetModel();
        Shown_ = count;
        endResetModel();
    } else if (count > Shown_) {
        beginInsertRows({}, Shown_, count - 1);
        Shown_ = count;
        endInsertRows();
    } else {
        return;
    }
    emit Synced();
}

void TLogListModel::SyncSoon() {
    if (SyncQueued_) return;
    SyncQueued_ = true;
    QTimer::singleShot(0, this, &TLogListModel::Sync);
}

void TLogItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const auto kind = static_cast<LogKind>(index.data(TLogListModel::KindRole).toInt());
    const QRect& r = option.rect;
    painter->save();
    painter->fillRect(r, Qt::black);
    // The glyph sits at the list's own left edge, whatever the item's rectangle.
    painter->drawPixmap(0, r.top(), LogGlyph(kind));
    QFont font = option.font;
    font.setPointSize(9);
    font.setBold(true);
    painter->setFont(font);
    painter->setPen(LogScreenColour(kind));
    painter->drawText(QRect(r.left() + kLogTextLeft, r.top(), r.width() - kLogTextLeft, r.height()),
                      Qt::AlignLeft | Qt::AlignTop, index.data(Qt::DisplayRole).toString());
    painter->restore();
}

QSize TLogItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QFont font = option.font;
    font.setPointSize(9);
    font.setBold(true);
    const int width = QFontMetrics(font).horizontalAdvance(index.data(Qt::DisplayRole).toString());
    return QSize(kLogTextLeft + width + 4, kLogRowHeight);
}

TLogList::TLogList(TLogListModel* model, QWidget* parent) : QListView(parent) {
    setObjectName(QStringLiteral("lstLog"));
    setModel(model);
    setItemDelegate(new TLogItemDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Window, Qt::black);
    setPalette(colours);
    connect(model, &TLogListModel::Synced, this, &TLogList::SelectNewest);
}

QFont TLogList::EntryFont() const {
    QFont entryFont = font();
    entryFont.setPointSize(9);
    entryFont.setBold(true);
    return entryFont;
}

void TLogList::SelectNewest() {
    const int rows = model()->rowCount();
    if (rows == 0) return;
    const QModelIndex newest = model()->index(rows - 1, 0);
    setCurrentIndex(newest);
    scrollTo(newest, QAbstractItemView::PositionAtBottom);
}

}  // namespace tarnwick

// lstLog: the event log on screen. Black, 16-pixel rows, each with its kind's
// glyph at the list's left edge and its line in bold 9-point text in the
// kind's colour; the newest entry is selected, so the list shows the end.
//
// The model follows the TEventLog it shows. Entries that arrive in a burst
// (the first refresh of a busy machine logs thousands) reach the view as one
// insertion at the next event-loop turn.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>

#include "log/event_log.h"

namespace tarnwick {

inline constexpr int kLogRowHeight = 16;
inline constexpr int kLogTextLeft = 20;

class TLogListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int KindRole = Qt::UserRole + 1;

    explicit TLogListModel(const TEventLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Brings the model up to the log: new entries inserted, a cleared log reset.
    void Sync();
    // Sync at the next event-loop turn (once, however often asked).
    void SyncSoon();

signals:
    void Synced();

private:
    const TEventLog& Log_;
    int Shown_ = 0;
    bool SyncQueued_ = false;
};

class TLogItemDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class TLogList final : public QListView {
    Q_OBJECT
public:
    TLogList(TLogListModel* model, QWidget* parent = nullptr);

    // The font entries are drawn in: the list's font at 9 points, bold.
    QFont EntryFont() const;

private:
    void SelectNewest();
};

}  // namespace tarnwick

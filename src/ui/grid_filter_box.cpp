#include "ui/grid_filter_box.h"

#include <QAction>
#include <QKeyEvent>
#include <QTimer>

namespace tarnwick {

namespace {

// Typing pauses this long before the text is stored, rather than on every key.
constexpr int kSettleMs = 800;
// Room for any filter anyone types; well within what Option.ini keeps of a value.
constexpr int kMaxFilterLength = 500;

}  // namespace

TGridFilterBox::TGridFilterBox(QWidget* parent) : QLineEdit(parent), SettleTimer_(new QTimer(this)) {
    setObjectName(QStringLiteral("edtFilter"));
    setPlaceholderText(QStringLiteral("Filter: words each row shown must hold (Ctrl+F)"));
    setClearButtonEnabled(true);
    setMaxLength(kMaxFilterLength);
    SettleTimer_->setSingleShot(true);
    SettleTimer_->setInterval(kSettleMs);
    connect(this, &QLineEdit::textChanged, SettleTimer_, qOverload<>(&QTimer::start));
    connect(SettleTimer_, &QTimer::timeout, this, [this] { emit Settled(text()); });
}

void TGridFilterBox::AddFindShortcut(QWidget* window) {
    auto* find = new QAction(this);
    find->setObjectName(QStringLiteral("actionFind"));
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, [this] {
        setFocus(Qt::ShortcutFocusReason);
        selectAll();
    });
    window->addAction(find);
}

void TGridFilterBox::SettleNow() {
    if (!SettleTimer_->isActive()) return;
    SettleTimer_->stop();
    emit Settled(text());
}

void TGridFilterBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        clear();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

}  // namespace tarnwick

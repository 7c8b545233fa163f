// edtFilter: the one-line filter above the connection grid. Ctrl+F anywhere
// in its window reaches it, Esc empties it. The grid follows every change
// at once; the text is stored once typing has paused.
#pragma once

#include <QLineEdit>

class QTimer;

namespace tarnwick {

class TGridFilterBox final : public QLineEdit {
    Q_OBJECT
public:
    explicit TGridFilterBox(QWidget* parent);

    // Ctrl+F in `window` puts the focus here, with the text selected.
    void AddFindShortcut(QWidget* window);
    // Stores at once a text that is still waiting for typing to pause.
    void SettleNow();

signals:
    // The text has stayed as it is for a moment: time to store it.
    void Settled(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTimer* SettleTimer_;
};

}  // namespace tarnwick

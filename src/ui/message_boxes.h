// Message boxes behind a seam, so tests answer questions without timing.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace tarnwick {

inline const QString kQuestionCaption = QStringLiteral("System Info");

class TMessageBoxes {
public:
    virtual ~TMessageBoxes() = default;

    // A Yes/No question with a question icon and the caption "System Info";
    // true for Yes.
    virtual bool Ask(QWidget* owner, const QString& text) = 0;

    // A notice with an OK button.
    virtual void Show(QWidget* owner, const QString& text, const QString& caption, QMessageBox::Icon icon) = 0;
};

// The real boxes, modal to their owner.
class TQtMessageBoxes final : public TMessageBoxes {
public:
    bool Ask(QWidget* owner, const QString& text) override;
    void Show(QWidget* owner, const QString& text, const QString& caption, QMessageBox::Icon icon) override;
};

}  // namespace tarnwick

#include "ui/message_boxes.h"

namespace tarnwick {

bool TQtMessageBoxes::Ask(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Question, kQuestionCaption, text, QMessageBox::Yes | QMessageBox::No, owner);
    return box.exec() == QMessageBox::Yes;
}

void TQtMessageBoxes::Show(QWidget* owner, const QString& text, const QString& caption, QMessageBox::Icon icon) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

}  // namespace tarnwick

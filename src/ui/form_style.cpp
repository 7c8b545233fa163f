#include "ui/form_style.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace tarnwick {

QColor FormColour() { return QColor(0x4B, 0x7D, 0x9E); }

void ApplyFormColour(QWidget& form) {
    QPalette colours = form.palette();
    colours.setColor(QPalette::Window, FormColour());
    form.setPalette(colours);
    form.setAutoFillBackground(true);
}

QFont PixelFont(const QStringList& families, int pixels) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixels);
    return font;
}

QFont FormFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    return font;
}

void CentreOnScreen(QWidget& form, const QScreen* screen) {
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame = form.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    form.move(frame.topLeft());
}

void CentreOn(QWidget& form, const QWidget& owner) {
    const QRect area = owner.frameGeometry();
    form.move(area.x() + (area.width() - form.width()) / 2, area.y() + (area.height() - form.height()) / 2);
}

}  // namespace tarnwick

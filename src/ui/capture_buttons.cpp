#include "ui/capture_buttons.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QToolButton>

namespace tarnwick {

namespace {

// A button picture: the glyph in `colour` on a round plate.
QPixmap ButtonPicture(TCaptureGlyph glyph, const QColor& plate, const QColor& colour) {
    QPixmap picture(28, 28);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(plate.darker(160), 1));
    painter.setBrush(plate);
    painter.drawEllipse(QRectF(1.5, 1.5, 25, 25));
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    switch (glyph) {
        case TCaptureGlyph::Start: {
            QPainterPath triangle;
            triangle.moveTo(10, 7);
            triangle.lineTo(21, 14);
            triangle.lineTo(10, 21);
            triangle.closeSubpath();
            painter.drawPath(triangle);
            break;
        }
        case TCaptureGlyph::Pause:
            painter.drawRect(QRectF(9, 8, 4, 12));
            painter.drawRect(QRectF(15, 8, 4, 12));
            break;
        case TCaptureGlyph::Stop: painter.drawRect(QRectF(9, 9, 10, 10)); break;
    }
    return picture;
}

// Normal, disabled and pressed pictures of one glyph.
QIcon ButtonIcon(TCaptureGlyph glyph, const QColor& colour) {
    QIcon icon;
    icon.addPixmap(ButtonPicture(glyph, QColor(0xE8, 0xEE, 0xF4), colour), QIcon::Normal, QIcon::Off);
    icon.addPixmap(ButtonPicture(glyph, QColor(0xB8, 0xB8, 0xB8), QColor(0x80, 0x80, 0x80)), QIcon::Disabled,
                   QIcon::Off);
    icon.addPixmap(ButtonPicture(glyph, QColor(0xB0, 0xC4, 0xD8), colour.darker(130)), QIcon::Normal, QIcon::On);
    icon.addPixmap(ButtonPicture(glyph, QColor(0xB8, 0xB8, 0xB8), QColor(0x80, 0x80, 0x80)), QIcon::Disabled,
                   QIcon::On);
    return icon;
}

}  // namespace

QToolButton* CaptureButton(QWidget* parent, const char* name, TCaptureGlyph glyph, const QColor& colour, int left) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, 5, 32, 32);
    button->setIcon(ButtonIcon(glyph, colour));
    button->setIconSize(QSize(28, 28));
    button->setAutoRaise(true);
    return button;
}

}  // namespace tarnwick

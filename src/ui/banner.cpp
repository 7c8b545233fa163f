#include "ui/banner.h"

#include <QPainter>
#include <QPainterPath>

namespace tarnwick {

namespace {

// A radar scope: dark disc, green rings and a sweep, the program's emblem.
void DrawEmblem(QPainter& painter, const QRectF& area) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x10, 0x30, 0x40), 1));
    painter.setBrush(QColor(0x08, 0x18, 0x20));
    painter.drawEllipse(area);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x00, 0xC0, 0x40), area.width() / 24.0));
    for (double f : {0.3, 0.62}) {
        const double inset = area.width() * (1 - f) / 2;
        painter.drawEllipse(area.adjusted(inset, inset, -inset, -inset));
    }
    QPainterPath sweep;
    sweep.moveTo(area.center());
    sweep.arcTo(area.adjusted(2, 2, -2, -2), 20, 50);
    sweep.closeSubpath();
    painter.fillPath(sweep, QColor(0x00, 0xFF, 0x60, 140));
    painter.setBrush(QColor(0x00, 0xFF, 0x00));
    painter.setPen(Qt::NoPen);
    const double dot = area.width() / 10.0;
    painter.drawEllipse(QPointF(area.center().x() + area.width() / 5, area.center().y() - area.height() / 6), dot / 2,
                        dot / 2);
}

}  // namespace

QPixmap BannerPicture(int height) {
    const int width = height * 4;
    QPixmap picture(width, height);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    DrawEmblem(painter, QRectF(3, 3, height - 6, height - 6));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(height / 2);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x10, 0x28, 0x38));
    painter.drawText(QRect(height + 1, 1, width - height, height), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("Tarnwick"));
    painter.setPen(Qt::white);
    painter.drawText(QRect(height, 0, width - height, height), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("Tarnwick"));
    return picture;
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        DrawEmblem(painter, QRectF(0.5, 0.5, size - 1, size - 1));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace tarnwick

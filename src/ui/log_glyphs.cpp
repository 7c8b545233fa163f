#include "ui/log_glyphs.h"

#include <QPainter>
#include <QPolygon>
#include <array>

namespace tarnwick {

namespace {

QPixmap DrawGlyph(LogKind kind) {
    QPixmap glyph(kLogGlyphSize, kLogGlyphSize);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor blue(0x20, 0x50, 0xD0), red(0xD0, 0x20, 0x20), yellow(0xFF, 0xD8, 0x20);
    const QColor disc = kind == lkInfo ? blue : kind == lkRule ? red : yellow;
    painter.setPen(QPen(disc.darker(140), 1));
    painter.setBrush(disc);
    painter.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    painter.setPen(Qt::NoPen);
    switch (kind) {
        case lkInfo:
            painter.setBrush(Qt::white);
            painter.drawEllipse(QRectF(6.8, 2.8, 2.4, 2.4));
            painter.drawRect(QRectF(6.9, 6.5, 2.2, 6.5));
            break;
        case lkRule:
            painter.setBrush(Qt::white);
            painter.drawRect(QRectF(6.9, 3, 2.2, 6.5));
            painter.drawEllipse(QRectF(6.8, 10.6, 2.4, 2.4));
            break;
        case lkConnect:
            painter.setBrush(blue);
            painter.drawPolygon(QPolygon({QPoint(8, 2), QPoint(13, 8), QPoint(10, 8), QPoint(10, 13), QPoint(6, 13),
                                          QPoint(6, 8), QPoint(3, 8)}));
            break;
        case lkDisconnect:
            painter.setBrush(blue);
            painter.drawPolygon(QPolygon({QPoint(8, 14), QPoint(13, 8), QPoint(10, 8), QPoint(10, 3), QPoint(6, 3),
                                          QPoint(6, 8), QPoint(3, 8)}));
            break;
    }
    return glyph;
}

}  // namespace

QPixmap LogGlyph(LogKind kind) {
    static const std::array<QPixmap, 4> glyphs{DrawGlyph(lkInfo), DrawGlyph(lkRule), DrawGlyph(lkConnect),
                                               DrawGlyph(lkDisconnect)};
    const int index = kind >= lkInfo && kind <= lkDisconnect ? kind : lkInfo;
    return glyphs[static_cast<size_t>(index)];
}

QColor LogScreenColour(LogKind kind) {
    switch (kind) {
        case lkInfo: return QColor(0x9C, 0xFF, 0x9C);
        case lkRule: return QColor(0xFF, 0xC6, 0xCE);
        case lkConnect: return QColor(0x00, 0xFF, 0xFF);
        case lkDisconnect: return QColor(0xFF, 0xFF, 0x00);
    }
    return QColor(0x9C, 0xFF, 0x9C);
}

}  // namespace tarnwick

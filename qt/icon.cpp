#include "icon.h"

#include <QPainter>
#include <QPixmap>

namespace tarnvik {

QImage smilingFaceImage() {
    QImage face(16, 16, QImage::Format_ARGB32);
    face.fill(Qt::transparent);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x80, 0x60, 0x00), 1));
    painter.setBrush(QColor(0xFF, 0xE0, 0x20));
    painter.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawEllipse(QRectF(4.5, 4.5, 2, 2.5));
    painter.drawEllipse(QRectF(9.5, 4.5, 2, 2.5));
    painter.setPen(QPen(Qt::black, 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(4, 5, 8, 7), 200 * 16, 140 * 16);
    painter.end();
    // 256 colours, as the icon is specified; one palette entry stays transparent.
    return face.convertToFormat(QImage::Format_Indexed8,
                                Qt::ThresholdDither | Qt::ThresholdAlphaDither | Qt::AvoidDither);
}

QIcon smilingFaceIcon() {
    return QIcon(QPixmap::fromImage(smilingFaceImage()));
}

} // namespace tarnvik

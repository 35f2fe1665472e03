// SPDX-License-Identifier: MIT
#include "icon.h"

#include <QPainter>
#include <QPixmap>
#include <QtEndian>

namespace tarnvik {

QImage smilingFaceImage(int size) {
    QImage face(size, size, QImage::Format_ARGB32);
    face.fill(Qt::transparent);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 16-unit grid, so every size shows the same design.
    painter.scale(size / 16.0, size / 16.0);
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
    if (size != 16) {
        return face;
    }
    // 256 colours, as the icon is specified; one palette entry stays transparent.
    return face.convertToFormat(QImage::Format_Indexed8,
                                Qt::ThresholdDither | Qt::ThresholdAlphaDither | Qt::AvoidDither);
}

QIcon smilingFaceIcon() {
    return QIcon(QPixmap::fromImage(smilingFaceImage()));
}

QByteArray iconFile(const std::vector<QImage>& images) {
    auto put16 = [](QByteArray& out, quint16 v) {
        v = qToLittleEndian(v);
        out.append(reinterpret_cast<const char*>(&v), 2);
    };
    auto put32 = [](QByteArray& out, quint32 v) {
        v = qToLittleEndian(v);
        out.append(reinterpret_cast<const char*>(&v), 4);
    };
    std::vector<QByteArray> bodies;
    for (const QImage& image : images) {
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        const int w = argb.width();
        const int h = argb.height();
        QByteArray body;
        // BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
        put32(body, 40);
        put32(body, static_cast<quint32>(w));
        put32(body, static_cast<quint32>(2 * h));
        put16(body, 1);
        put16(body, 32);
        for (int i = 0; i < 6; ++i) {
            put32(body, 0);
        }
        for (int y = h - 1; y >= 0; --y) {
            for (int x = 0; x < w; ++x) {
                put32(body, argb.pixel(x, y));
            }
        }
        // The mask: a set bit is transparent; rows padded to 32 bits.
        const int maskRow = ((w + 31) / 32) * 4;
        for (int y = h - 1; y >= 0; --y) {
            QByteArray row(maskRow, '\0');
            for (int x = 0; x < w; ++x) {
                if (qAlpha(argb.pixel(x, y)) == 0) {
                    row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
                }
            }
            body.append(row);
        }
        bodies.push_back(body);
    }
    QByteArray file;
    put16(file, 0);
    put16(file, 1);
    put16(file, static_cast<quint16>(images.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        file.append(static_cast<char>(images[i].width() % 256));
        file.append(static_cast<char>(images[i].height() % 256));
        file.append('\0');
        file.append('\0');
        put16(file, 1);
        put16(file, 32);
        put32(file, static_cast<quint32>(bodies[i].size()));
        put32(file, offset);
        offset += static_cast<quint32>(bodies[i].size());
    }
    for (const auto& body : bodies) {
        file.append(body);
    }
    return file;
}

} // namespace tarnvik

#include "controls.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace tarnvik::controls {

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

QColor fromColorValue(std::uint32_t value) {
    return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                  static_cast<int>((value >> 16) & 0xFFu));
}

} // namespace

int twipsToPixels(int twips, double logicalDpi) {
    return static_cast<int>(std::lround(twips * logicalDpi / 1440.0));
}

void placeInTwips(QWidget* widget, int left, int top, int width, int height, double logicalDpi) {
    widget->setGeometry(twipsToPixels(left, logicalDpi), twipsToPixels(top, logicalDpi),
                        twipsToPixels(width, logicalDpi), twipsToPixels(height, logicalDpi));
}

std::string caption(const QAbstractButton* button) {
    return toUtf8(button->text());
}

void setCaption(QAbstractButton* button, const std::string& text) {
    button->setText(fromUtf8(text));
}

void setEnabled(QWidget* control, bool enabled) {
    control->setEnabled(enabled);
}

bool visible(const QWidget* frame) {
    return !frame->isHidden();
}

void setVisible(QWidget* frame, bool shown) {
    frame->setVisible(shown);
}

std::string text(const QLineEdit* box) {
    return toUtf8(box->text());
}

void setText(QLineEdit* box, const std::string& text) {
    box->setText(fromUtf8(text));
}

void clear(QListWidget* list) {
    list->clear();
}

void addItem(QListWidget* list, const std::string& line) {
    list->addItem(fromUtf8(line));
}

void setEnabled(QTimer* timer, bool enabled) {
    if (enabled) {
        timer->start();
    } else {
        timer->stop();
    }
}

Lamp::Lamp(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleDescription("not yet probed");
}

void Lamp::setFillColor(std::uint32_t colorValue) {
    const std::uint32_t fill = colorValue & 0xFFFFFFu;
    // Every probe sets the colour; repaint only when it changes.
    if (fill_ != fill) {
        fill_ = fill;
        // Assistive technology hears the state the colour shows.
        setAccessibleDescription(fill == 0x00FF00u   ? "green"
                                 : fill == 0x0000FFu ? "red"
                                                     : fromColorValue(fill).name());
        update();
    }
}

void Lamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(fill_ ? fromColorValue(*fill_) : palette().color(QPalette::Base));
    const int side = std::min(width(), height()) - 1;
    painter.drawEllipse(QRectF(0.5, 0.5, side, side));
}

} // namespace tarnvik::controls

// SPDX-License-Identifier: MIT
#include "controls.h"
#include "texts.h"

#include <QCoreApplication>

#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace tarnvik::qt {

namespace {

QColor fromColorValue(std::uint32_t value) {
    return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                  static_cast<int>((value >> 16) & 0xFFu));
}

} // namespace

int twipsToPixels(int twips, double logicalDpi) {
    return static_cast<int>(std::lround(twips * logicalDpi / 1440.0));
}

void placeInTwips(QWidget* widget, const TwipsRect& twips, double logicalDpi) {
    widget->setGeometry(twipsToPixels(twips.left, logicalDpi), twipsToPixels(twips.top, logicalDpi),
                        twipsToPixels(twips.width, logicalDpi),
                        twipsToPixels(twips.height, logicalDpi));
}

Lamp::Lamp(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    describe();
}

void Lamp::setState(const QString& state) {
    state_ = state;
    setToolTip(state);
    describe();
}

// Assistive technology hears the state the colour shows, then what it means.
void Lamp::describe() {
    const char* form = !fill_                ? nullptr
                       : *fill_ == 0x00FF00u ? texts::kGreen
                       : *fill_ == 0x0000FFu ? texts::kRed
                                             : nullptr;
    if (form != nullptr) {
        setAccessibleDescription(QCoreApplication::translate("Tarnvik", form).arg(state_));
        return;
    }
    const QString colour = fill_ ? fromColorValue(*fill_).name()
                                 : QCoreApplication::translate("Tarnvik", texts::kNotYetProbed);
    setAccessibleDescription(state_.isEmpty() ? colour : colour + ": " + state_);
}

void Lamp::setFillColor(std::uint32_t colorValue) {
    const std::uint32_t fill = colorValue & 0xFFFFFFu;
    // Every probe sets the colour; repaint only when it changes.
    if (fill_ != fill) {
        fill_ = fill;
        describe();
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

} // namespace tarnvik::qt

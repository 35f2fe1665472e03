// SPDX-License-Identifier: MIT
// What the Qt binding needs beyond Qt itself: twips at the screen's resolution, and the status
// lamp as a widget.
#pragma once

#include "form1.h"

#include <QWidget>

#include <cstdint>
#include <optional>

namespace tarnvik::qt {

// Twips are 1/1440 inch; pixels follow the screen's logical resolution (15 twips a pixel at 96
// dpi).
int twipsToPixels(int twips, double logicalDpi);

// Places `widget` at a rectangle given in twips within its container.
void placeInTwips(QWidget* widget, const TwipsRect& twips, double logicalDpi);

// The status lamp: a filled circle with a one-pixel outline in the window-text colour. Its fill
// is a colour value (red in the low byte, green next, blue high); before the first value it is
// the palette's base colour, as a text box's background.
class Lamp : public QWidget {
    Q_OBJECT
  public:
    explicit Lamp(QWidget* parent = nullptr);

    void setFillColor(std::uint32_t colorValue);
    std::optional<std::uint32_t> fillColor() const { return fill_; }
    // The state in words, shown as the tip and heard after the colour.
    void setState(const QString& state);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void describe();

    std::optional<std::uint32_t> fill_;
    QString state_;
};

} // namespace tarnvik::qt

// The window toolkit operations the window's handlers rely on, in one place, so that the
// handlers read in terms of captions, texts, visible and enabled flags rather than Qt.
#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>

namespace tarnvik::controls {

// Twips are 1/1440 inch; pixels follow the screen's logical resolution (15 twips a pixel at 96
// dpi).
int twipsToPixels(int twips, double logicalDpi);

// Places `widget` at a rectangle given in twips within its container.
void placeInTwips(QWidget* widget, int left, int top, int width, int height, double logicalDpi);

// Push button caption, exactly as written (access-key ampersand included), so it can be state.
std::string caption(const QAbstractButton* button);
void setCaption(QAbstractButton* button, const std::string& text);
void setEnabled(QWidget* control, bool enabled);

// The visible flag as set, also while the window itself is not shown.
bool visible(const QWidget* frame);
void setVisible(QWidget* frame, bool shown);

std::string text(const QLineEdit* box);
void setText(QLineEdit* box, const std::string& text);

void clear(QListWidget* list);
void addItem(QListWidget* list, const std::string& line);

void setEnabled(QTimer* timer, bool enabled);

// The status lamp: a filled circle with a one-pixel outline in the window-text colour. Its fill
// is a colour value (red in the low byte, green next, blue high); before the first value it is
// the palette's base colour, as a text box's background.
class Lamp : public QWidget {
    Q_OBJECT
  public:
    explicit Lamp(QWidget* parent = nullptr);

    void setFillColor(std::uint32_t colorValue);
    std::optional<std::uint32_t> fillColor() const { return fill_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<std::uint32_t> fill_;
};

} // namespace tarnvik::controls

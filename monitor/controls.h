// SPDX-License-Identifier: MIT
// The window toolkit operations the window's handlers rely on, and nothing more: captions, texts,
// visible and enabled flags, the result list, the lamp's fill and tip, and the timer. Each toolkit
// binding implements them over its own controls, so the handlers run unchanged on every toolkit.
#pragma once

#include <cstdint>
#include <string>

namespace tarnvik {

// The window's controls, by the names the handlers know them by.
enum class Control {
    zdip,
    txtPing,
    zdym,
    txtConvert,
    Label2,
    Shape1,
    Label3,
    zx,
    qb,
    List1,
    cmdFormat,
    Command1,
    Command2,
    Timer1,
    // Ticks every kAnnounceInterval while the next hop is told our address.
    Timer2,
};

// Texts are UTF-8. A caption reads back exactly as written, access-key ampersand included, so
// that it can serve as state.
class Controls {
  public:
    virtual ~Controls() = default;

    virtual std::string caption(Control button) const = 0;
    virtual void setCaption(Control button, const std::string& caption) = 0;

    virtual std::string text(Control box) const = 0;
    // Replaces the whole text, also with the empty text.
    virtual void setText(Control box, const std::string& text) = 0;

    // The flag as set, also while the window itself is not shown. Hiding a frame hides the
    // controls inside it; they keep their text.
    virtual bool visible(Control frame) const = 0;
    virtual void setVisible(Control frame, bool shown) = 0;

    // A disabled button delivers no click; the timer ticks exactly while enabled.
    virtual void setEnabled(Control control, bool enabled) = 0;

    virtual void clear(Control list) = 0;
    virtual void addItem(Control list, const std::string& line) = 0;

    // A colour value: red in the low byte, green next, blue high.
    virtual void setFillColor(Control shape, std::uint32_t colorValue) = 0;

    // The text shown while the pointer rests on the control (and read out by a screen reader).
    virtual void setToolTip(Control control, const std::string& text) = 0;
};

} // namespace tarnvik

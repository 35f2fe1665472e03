// SPDX-License-Identifier: MIT
// The window on native Win32 controls: creates them with their names' places, captions, twips
// geometry at the window's own DPI, tab order, focus and access keys, implements the toolkit
// operations over them, and routes their messages to the window's handlers.
#pragma once

#include "form1.h"
#include "system_win32.h"
#include "tray.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <optional>

namespace tarnvik::win32 {

class Form1Window final : private Controls {
  public:
    // Without a tray of its own the window uses the shell's notification area.
    explicit Form1Window(
        Form1::EchoClientFactory makeEchoClient = [] { return std::make_unique<cping>(); },
        RepairSettings repair = systemRepairSettings(currentDateTime),
        std::unique_ptr<TrayIcon> tray = nullptr);
    Form1Window(const Form1Window&) = delete;
    Form1Window& operator=(const Form1Window&) = delete;
    ~Form1Window() override;

    // Creates the window and its controls, runs Form_Load, centres it on its monitor and shows
    // it with `showCommand`. False when the window cannot be made.
    bool create(int showCommand);
    // An unattended start, once created: Form1::launch.
    bool launch(const std::string& target, bool start) { return form1_.launch(target, start); }

    // Lets the dialog manager take Tab, the access keys and Space; true when it did.
    bool translate(MSG& message);

    HWND handle() const { return window_; }
    HWND control(Control control) const;
    // The scale the window is laid out at: pixels per inch.
    UINT dpi() const { return dpi_; }

  private:
    friend class tarnvik::Form1TestAccess;

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void layout();
    void onClick(int id);
    void paintLamp(const DRAWITEMSTRUCT& item) const;
    RepairSettings withTrayNotices(RepairSettings repair);
    std::string say(const Words& words) const { return words.render(translate_); }
    std::wstring trayTip() const;

    std::string caption(Control button) const override;
    void setCaption(Control button, const std::string& caption) override;
    std::string text(Control box) const override;
    void setText(Control box, const std::string& text) override;
    bool visible(Control frame) const override;
    void setVisible(Control frame, bool shown) override;
    void setEnabled(Control control, bool enabled) override;
    void clear(Control list) override;
    void addItem(Control list, const std::string& line) override;
    void setFillColor(Control shape, std::uint32_t colorValue) override;
    void setToolTip(Control control, const std::string& text) override;

    struct FontDeleter {
        void operator()(HFONT font) const { ::DeleteObject(font); }
    };

    // The captions' and messages' language: the user's interface language.
    Translator translate_;
    HWND window_ = nullptr;
    // Where the worker posts that a probe's outcome waits: the window while it exists.
    std::atomic<HWND> outcomeTarget_ = nullptr;
    std::array<HWND, 14> controls_{};
    HWND tooltip_ = nullptr;
    // The lamp's tip: the tooltip control keeps a pointer to it.
    std::wstring lampTip_ = L" ";
    HWND focus_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter> font_;
    std::optional<std::uint32_t> lampFill_;
    // The notification-area icon, there while monitoring runs.
    std::unique_ptr<TrayIcon> tray_;
    bool trayShown_ = false;
    UINT taskbarCreated_ = 0;
    Form1 form1_;
};

} // namespace tarnvik::win32

// SPDX-License-Identifier: MIT
#include "form1_window.h"
#include "language.h"

#include "system.h"

#include <commctrl.h>

#include <exception>

namespace tarnvik::win32 {

namespace {

constexpr const wchar_t* kWindowClass = L"TarnvikForm1";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT_PTR kAnnounceTimerId = 2;
// Posted by the worker when a probe's or a lookup's outcome waits.
constexpr UINT kOutcomeMessage = WM_APP + 1;
constexpr int kIconResource = 1;
// Control identifiers start beyond IDOK and IDCANCEL, which Enter and Escape send.
constexpr int kFirstId = 100;

// A group box paints its border and caption only, and the window clips its children, so the
// band between a frame and its text box would keep whatever was there: paint it in the window's
// colour.
LRESULT CALLBACK paintFrameInterior(HWND frame, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR, DWORD_PTR) {
    if (message == WM_ERASEBKGND) {
        RECT area{};
        ::GetClientRect(frame, &area);
        ::FillRect(reinterpret_cast<HDC>(wParam), &area, ::GetSysColorBrush(COLOR_BTNFACE));
        return TRUE;
    }
    if (message == WM_PAINT) {
        // Not every system erases a group box before painting it.
        const HDC dc = ::GetDC(frame);
        RECT area{};
        ::GetClientRect(frame, &area);
        ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
        ::ReleaseDC(frame, dc);
    }
    return ::DefSubclassProc(frame, message, wParam, lParam);
}

int idOf(Control control) {
    return kFirstId + static_cast<int>(control);
}

int twipsToPixels(int twips, UINT dpi) {
    return ::MulDiv(twips, static_cast<int>(dpi), 1440);
}

// The container a text box stands in; its twips are counted from the frame's corner.
std::optional<Control> frameOf(Control control) {
    if (control == Control::txtPing) {
        return Control::zdip;
    }
    if (control == Control::txtConvert) {
        return Control::zdym;
    }
    return std::nullopt;
}

struct ControlKind {
    Control control;
    const wchar_t* windowClass;
    DWORD style;
    DWORD extendedStyle;
    const char* caption;
};

// In creation order, which is the order of the Tab key: the tab stops first, in their order,
// then what takes no focus.
constexpr ControlKind kControls[] = {
    {Control::Command1, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, texts::kCommand1},
    {Control::cmdFormat, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, texts::kCmdFormat},
    {Control::List1, L"LISTBOX", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP,
     WS_EX_CLIENTEDGE, ""},
    {Control::Command2, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, texts::kCommand2},
    {Control::zdip, L"BUTTON", BS_GROUPBOX, 0, texts::kZdip},
    {Control::txtPing, L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, ""},
    {Control::zdym, L"BUTTON", BS_GROUPBOX, 0, texts::kZdym},
    {Control::txtConvert, L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, ""},
    {Control::qb, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, texts::kSwitchToHostName},
    {Control::zx, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, texts::kStart},
    {Control::Label2, L"STATIC", SS_LEFT | SS_NOPREFIX, 0, texts::kLabel2},
    // SS_NOTIFY: the lamp takes the pointer, so that its tip shows.
    {Control::Shape1, L"STATIC", SS_OWNERDRAW | SS_NOTIFY, 0, ""},
    {Control::Label3, L"STATIC", SS_LEFT | SS_NOPREFIX, 0, texts::kLabel3},
};

std::wstring windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

Form1Window::Form1Window(Form1::EchoClientFactory makeEchoClient, RepairSettings repair,
                         std::unique_ptr<TrayIcon> tray)
    : translate_(stringTableTranslator()), tray_(std::move(tray)),
      form1_(*this, std::move(makeEchoClient), withTrayNotices(std::move(repair)), [this] {
          if (const HWND target = outcomeTarget_.load()) {
              ::PostMessageW(target, kOutcomeMessage, 0, 0);
          }
      }) {}

// Each attack episode as a balloon on the notification-area icon, while there is one; what is
// told is in the captions' language.
RepairSettings Form1Window::withTrayNotices(RepairSettings repair) {
    if (!repair.translate) {
        repair.translate = translate_;
    }
    if (!repair.notify) {
        repair.notify = [this](const Notice& notice) {
            if (tray_ && trayShown_) {
                tray_->balloon(widen(notice.title), widen(notice.body));
            }
        };
    }
    return repair;
}

std::wstring Form1Window::trayTip() const {
    if (!lampFill_) {
        return widen(say({texts::kTrayMonitoring}));
    }
    return widen(say({*lampFill_ == kGreen ? texts::kTrayGreen : texts::kTrayRed}));
}

Form1Window::~Form1Window() {
    if (window_ != nullptr) {
        ::DestroyWindow(window_);
    }
}

bool Form1Window::create(int showCommand) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX common{sizeof common, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&common);
    WNDCLASSEXW windowClass{};
    if (!::GetClassInfoExW(instance, kWindowClass, &windowClass)) {
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kWindowClass;
        windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
        windowClass.hIconSm = static_cast<HICON>(
            ::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                         ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
        if (::RegisterClassExW(&windowClass) == 0) {
            return false;
        }
    }
    // Fixed single border with the system menu and close button only.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    window_ =
        ::CreateWindowExW(0, kWindowClass, widen(captions::kForm1).c_str(), style, CW_USEDEFAULT,
                          CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
    if (window_ == nullptr) {
        return false;
    }
    dpi_ = ::GetDpiForWindow(window_);
    if (!tray_) {
        tray_ = makeShellTrayIcon(windowClass.hIconSm != nullptr ? windowClass.hIconSm
                                                                 : windowClass.hIcon);
    }
    // Sent to every top-level window when the taskbar is made anew (Explorer restarted).
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    createControls();
    layout();
    outcomeTarget_ = window_;
    form1_.Form_Load();

    // Centred on the work area of the monitor the window was made on.
    RECT outer{0, 0, twipsToPixels(kClientWidthTwips, dpi_),
               twipsToPixels(kClientHeightTwips, dpi_)};
    ::AdjustWindowRectExForDpi(&outer, style, FALSE, 0, dpi_);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    ::SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    focus_ = control(kTabOrder[0]);
    ::ShowWindow(window_, showCommand);
    ::UpdateWindow(window_);
    ::SetFocus(focus_);
    return true;
}

void Form1Window::createControls() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    for (const auto& kind : kControls) {
        const DWORD visible =
            kind.control == Control::zdym || kind.control == Control::txtConvert ? 0 : WS_VISIBLE;
        controls_[static_cast<std::size_t>(kind.control)] = ::CreateWindowExW(
            kind.extendedStyle, kind.windowClass, widen(say({kind.caption})).c_str(),
            WS_CHILD | WS_CLIPSIBLINGS | visible | kind.style, 0, 0, 0, 0, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(idOf(kind.control))), instance, nullptr);
    }
    // The frames go beneath everything else, so that they never paint over the text boxes in
    // front of them; they take no focus, so the order of the Tab key stays as made.
    for (const Control frame : {Control::zdip, Control::zdym}) {
        ::SetWindowPos(control(frame), HWND_BOTTOM, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        ::SetWindowSubclass(control(frame), paintFrameInterior, 0, 0);
    }
    for (const Control box : {Control::txtPing, Control::txtConvert}) {
        // No length limit beyond the control's own.
        ::SendMessageW(control(box), EM_SETLIMITTEXT, 0, 0);
    }

    tooltip_ =
        ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance, nullptr);
    std::wstring tip = widen(captions::kTargetTip);
    for (const Control box : {Control::txtPing, Control::txtConvert}) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(control(box));
        tool.lpszText = tip.data();
        ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    TTTOOLINFOW lamp{};
    lamp.cbSize = sizeof lamp;
    lamp.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    lamp.hwnd = window_;
    lamp.uId = reinterpret_cast<UINT_PTR>(control(Control::Shape1));
    lamp.lpszText = lampTip_.data();
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&lamp));
}

void Form1Window::layout() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi_);
    // The new font goes to every control before the old one is deleted: they still use it.
    decltype(font_) font(::CreateFontIndirectW(&metrics.lfMessageFont));
    ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, twipsToPixels(4320, dpi_));

    const HDC measure = ::GetDC(window_);
    const HGDIOBJ previous = ::SelectObject(measure, font.get());
    for (const auto& kind : kControls) {
        const HWND item = control(kind.control);
        TwipsRect at = twipsGeometry(kind.control);
        if (const auto frame = frameOf(kind.control)) {
            at.left += twipsGeometry(*frame).left;
            at.top += twipsGeometry(*frame).top;
        }
        int width = twipsToPixels(at.width, dpi_);
        int height = twipsToPixels(at.height, dpi_);
        if (kind.control == Control::Label2 || kind.control == Control::Label3) {
            // Labels size themselves to their text in the font they show.
            const std::wstring text = windowText(item);
            SIZE extent{};
            ::GetTextExtentPoint32W(measure, text.c_str(), static_cast<int>(text.size()), &extent);
            width = extent.cx;
            height = extent.cy;
        }
        ::SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
        ::SetWindowPos(item, nullptr, twipsToPixels(at.left, dpi_), twipsToPixels(at.top, dpi_),
                       width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::SelectObject(measure, previous);
    ::ReleaseDC(window_, measure);
    font_ = std::move(font);
    ::InvalidateRect(window_, nullptr, TRUE);
}

bool Form1Window::translate(MSG& message) {
    return window_ != nullptr && ::IsDialogMessageW(window_, &message);
}

HWND Form1Window::control(Control control) const {
    return controls_[static_cast<std::size_t>(control)];
}

LRESULT CALLBACK Form1Window::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(created->lpCreateParams));
    }
    auto* self = reinterpret_cast<Form1Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr || self->window_ != window) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    // No C++ exception may unwind through user32's frames: it ends here, reported.
    try {
        return self->onMessage(message, wParam, lParam);
    } catch (const std::exception& error) {
        os::report(std::string("a window message failed: ") + error.what());
    } catch (...) {
        os::report("a window message failed");
    }
    return 0;
}

LRESULT Form1Window::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            onClick(LOWORD(wParam));
        }
        return 0;
    case WM_TIMER:
        if (wParam == kTimerId) {
            form1_.Timer1_Timer();
        } else if (wParam == kAnnounceTimerId) {
            form1_.Timer2_Timer();
        }
        return 0;
    case kOutcomeMessage:
        form1_.outcomeReady();
        return 0;
    case WM_DRAWITEM:
        if (wParam == static_cast<WPARAM>(idOf(Control::Shape1))) {
            paintLamp(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
    case WM_ACTIVATE:
        // A plain window forgets its focus when it loses activation; keep it as a dialog does.
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (const HWND focus = ::GetFocus(); focus != nullptr && ::IsChild(window_, focus)) {
                focus_ = focus;
            }
        } else if (focus_ != nullptr) {
            ::SetFocus(focus_);
        }
        return 0;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        layout();
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        form1_.Form_QueryUnload();
        ::DestroyWindow(window_);
        return 0;
    case WM_DESTROY:
        outcomeTarget_ = nullptr;
        if (tray_ && trayShown_) {
            tray_->remove();
            trayShown_ = false;
        }
        ::KillTimer(window_, kTimerId);
        ::KillTimer(window_, kAnnounceTimerId);
        window_ = nullptr;
        ::PostQuitMessage(0);
        return 0;
    default:
        if (message != 0 && message == taskbarCreated_ && trayShown_) {
            tray_->add(window_, trayTip());
            return 0;
        }
        break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

void Form1Window::onClick(int id) {
    switch (static_cast<Control>(id - kFirstId)) {
    case Control::zx:
        form1_.zx_Click();
        break;
    case Control::qb:
        form1_.qb_Click();
        break;
    case Control::cmdFormat:
        form1_.cmdFormat_Click();
        break;
    case Control::Command1:
        form1_.Command1_Click();
        break;
    case Control::Command2:
        form1_.Command2_Click();
        break;
    default:
        break;
    }
}

void Form1Window::paintLamp(const DRAWITEMSTRUCT& item) const {
    const HDC dc = item.hDC;
    const RECT& area = item.rcItem;
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
    // A colour value is laid out as a COLORREF: red low, green next, blue high.
    const HBRUSH fill = ::CreateSolidBrush(lampFill_ ? static_cast<COLORREF>(*lampFill_)
                                                     : ::GetSysColor(COLOR_WINDOW));
    const HPEN outline = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_WINDOWTEXT));
    const HGDIOBJ oldBrush = ::SelectObject(dc, fill);
    const HGDIOBJ oldPen = ::SelectObject(dc, outline);
    const int side = std::min(area.right - area.left, area.bottom - area.top);
    ::Ellipse(dc, area.left, area.top, area.left + side, area.top + side);
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldBrush);
    ::DeleteObject(outline);
    ::DeleteObject(fill);
}

std::string Form1Window::caption(Control button) const {
    return narrow(windowText(control(button)));
}

void Form1Window::setCaption(Control button, const std::string& caption) {
    ::SetWindowTextW(control(button), widen(caption).c_str());
}

std::string Form1Window::text(Control box) const {
    return narrow(windowText(control(box)));
}

void Form1Window::setText(Control box, const std::string& text) {
    ::SetWindowTextW(control(box), widen(text).c_str());
}

bool Form1Window::visible(Control frame) const {
    return (::GetWindowLongW(control(frame), GWL_STYLE) & WS_VISIBLE) != 0;
}

void Form1Window::setVisible(Control frame, bool shown) {
    // The text box stands in front of its frame rather than inside it, so it goes with it.
    for (const Control part : {Control::txtPing, Control::txtConvert}) {
        if (frameOf(part) == frame) {
            ::ShowWindow(control(part), shown ? SW_SHOWNA : SW_HIDE);
        }
    }
    ::ShowWindow(control(frame), shown ? SW_SHOWNA : SW_HIDE);
}

void Form1Window::setEnabled(Control target, bool enabled) {
    if (target == Control::Timer2) {
        if (enabled) {
            ::SetTimer(window_, kAnnounceTimerId, static_cast<UINT>(kAnnounceInterval.count()),
                       nullptr);
        } else {
            ::KillTimer(window_, kAnnounceTimerId);
        }
        return;
    }
    if (target == Control::Timer1) {
        // The timer runs exactly while monitoring does: so does the notification-area icon.
        if (enabled) {
            ::SetTimer(window_, kTimerId, kTimerInterval, nullptr);
        } else {
            ::KillTimer(window_, kTimerId);
        }
        if (tray_ && enabled != trayShown_) {
            trayShown_ = enabled;
            if (enabled) {
                tray_->add(window_, trayTip());
            } else {
                tray_->remove();
            }
        }
        return;
    }
    ::EnableWindow(control(target), enabled);
}

void Form1Window::clear(Control list) {
    ::SendMessageW(control(list), LB_RESETCONTENT, 0, 0);
}

void Form1Window::addItem(Control list, const std::string& line) {
    const std::wstring wide = widen(line);
    ::SendMessageW(control(list), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void Form1Window::setToolTip(Control which, const std::string& text) {
    if (which != Control::Shape1) {
        return; // the text boxes keep the tip they were made with
    }
    lampTip_ = widen(text);
    if (tooltip_ == nullptr) {
        return; // shown once the window is made
    }
    TTTOOLINFOW lamp{};
    lamp.cbSize = sizeof lamp;
    lamp.hwnd = window_;
    lamp.uId = reinterpret_cast<UINT_PTR>(control(Control::Shape1));
    lamp.lpszText = lampTip_.data();
    ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&lamp));
}

void Form1Window::setFillColor(Control shape, std::uint32_t colorValue) {
    const std::uint32_t fill = colorValue & 0xFFFFFFu;
    if (lampFill_ != fill) {
        lampFill_ = fill;
        ::InvalidateRect(control(shape), nullptr, FALSE);
        if (tray_ && trayShown_) {
            tray_->setTip(trayTip());
        }
    }
}

} // namespace tarnvik::win32

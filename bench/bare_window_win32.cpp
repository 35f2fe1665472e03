// SPDX-License-Identifier: MIT
// The floor for the Windows edition's footprint: a bare Win32 window of the window's fixed size,
// with the same manifest and one label of the Chinese legend in the same message font, which is
// what the system's windows and fonts cost by themselves.
#include <windows.h>

namespace {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"bare";
    ::RegisterClassExW(&windowClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const HWND window = ::CreateWindowExW(0, L"bare", L"bare", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                          100, 100, nullptr, nullptr, instance, nullptr);
    const UINT dpi = ::GetDpiForWindow(window);
    RECT outer{0, 0, ::MulDiv(3375, static_cast<int>(dpi), 1440),
               ::MulDiv(2385, static_cast<int>(dpi), 1440)};
    ::AdjustWindowRectExForDpi(&outer, style, FALSE, 0, dpi);
    ::SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                   SWP_NOMOVE | SWP_NOZORDER);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    const HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    const HWND legend = ::CreateWindowExW(0, L"STATIC", L"绿色代表畅通，红色代表故障",
                                          WS_CHILD | WS_VISIBLE | SS_LEFT, 32, 64, 300, 24, window,
                                          nullptr, instance, nullptr);
    ::SendMessageW(legend, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::DeleteObject(font);
    return 0;
}

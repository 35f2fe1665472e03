// SPDX-License-Identifier: MIT
#include "form1_window.h"
#include "system.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    for (const auto& line : tarnvik::os::startupDiagnostics()) {
        tarnvik::os::report(line);
    }
    tarnvik::win32::Form1Window window;
    if (!window.create(showCommand)) {
        tarnvik::os::report("cannot create the window: " +
                            tarnvik::os::errorText(static_cast<int>(::GetLastError())));
        return 1;
    }
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!window.translate(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

// SPDX-License-Identifier: MIT
// The notification-area icon, shown while monitoring runs: the face, a tip with the lamp's state,
// and a balloon for each attack episode. tray_win32.cpp calls Shell_NotifyIconW; tests give a
// fake that records the calls (Wine's own tray may not be there to read back).
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace tarnvik::win32 {

class TrayIcon {
  public:
    virtual ~TrayIcon() = default;
    // Shows the icon for `owner`, replacing one that a crashed run may have left.
    virtual void add(HWND owner, const std::wstring& tip) = 0;
    virtual void setTip(const std::wstring& tip) = 0;
    virtual void balloon(const std::wstring& title, const std::wstring& text) = 0;
    virtual void remove() = 0;
};

// The shell's notification area, with `icon` (owned by the caller).
std::unique_ptr<TrayIcon> makeShellTrayIcon(HICON icon);

} // namespace tarnvik::win32

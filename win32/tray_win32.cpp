// SPDX-License-Identifier: MIT
#include "tray.h"

#include <shellapi.h>

#include <algorithm>
#include <cwchar>

namespace tarnvik::win32 {

namespace {

// One fixed identity for Tarnvik's icon: a run that crashed left one of it behind, and the next
// add replaces it instead of showing a second. The shell ties such an identity to the
// executable's path, so a copy started from elsewhere falls back to the window's own id.
constexpr GUID kTrayGuid = {
    0x6b1f7a3e, 0x2c4d, 0x4f0a, {0x9e, 0x51, 0x3d, 0x72, 0xa8, 0x0c, 0x14, 0xb6}};
constexpr UINT kTrayId = 1;

template <std::size_t N> void copyText(wchar_t (&to)[N], const std::wstring& text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::wmemcpy(to, text.data(), length);
    to[length] = L'\0';
}

class ShellTrayIcon final : public TrayIcon {
  public:
    explicit ShellTrayIcon(HICON icon) : icon_(icon) {}
    ~ShellTrayIcon() override { remove(); }

    void add(HWND owner, const std::wstring& tip) override {
        owner_ = owner;
        NOTIFYICONDATAW data = base(NIF_ICON | NIF_TIP | NIF_SHOWTIP);
        data.hIcon = icon_;
        copyText(data.szTip, tip);
        withGuid_ = true;
        NOTIFYICONDATAW stale = base(0);
        ::Shell_NotifyIconW(NIM_DELETE, &stale);
        data = withIdentity(data);
        shown_ = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
        if (!shown_) {
            withGuid_ = false;
            data = withIdentity(data);
            shown_ = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
        }
        if (shown_) {
            data.uVersion = NOTIFYICON_VERSION_4;
            ::Shell_NotifyIconW(NIM_SETVERSION, &data);
        }
    }

    void setTip(const std::wstring& tip) override {
        NOTIFYICONDATAW data = base(NIF_TIP | NIF_SHOWTIP);
        copyText(data.szTip, tip);
        modify(data);
    }

    void balloon(const std::wstring& title, const std::wstring& text) override {
        NOTIFYICONDATAW data = base(NIF_INFO);
        copyText(data.szInfoTitle, title);
        copyText(data.szInfo, text);
        data.dwInfoFlags = NIIF_WARNING;
        modify(data);
    }

    void remove() override {
        if (shown_) {
            NOTIFYICONDATAW data = base(0);
            ::Shell_NotifyIconW(NIM_DELETE, &data);
            shown_ = false;
        }
    }

  private:
    NOTIFYICONDATAW base(UINT flags) const {
        NOTIFYICONDATAW data{};
        data.cbSize = sizeof data;
        data.hWnd = owner_;
        data.uID = kTrayId;
        data.uFlags = flags;
        return withIdentity(data);
    }
    NOTIFYICONDATAW withIdentity(NOTIFYICONDATAW data) const {
        if (withGuid_) {
            data.uFlags |= NIF_GUID;
            data.guidItem = kTrayGuid;
        } else {
            data.uFlags &= ~static_cast<UINT>(NIF_GUID);
        }
        return data;
    }
    void modify(NOTIFYICONDATAW& data) {
        if (shown_) {
            ::Shell_NotifyIconW(NIM_MODIFY, &data);
        }
    }

    HICON icon_;
    HWND owner_ = nullptr;
    bool withGuid_ = true;
    bool shown_ = false;
};

} // namespace

std::unique_ptr<TrayIcon> makeShellTrayIcon(HICON icon) {
    return std::make_unique<ShellTrayIcon>(icon);
}

} // namespace tarnvik::win32

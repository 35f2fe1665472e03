// SPDX-License-Identifier: MIT
// Stands in for a command the repair starts (as arp.exe in the lab's Wine prefix): appends one
// line to command_double.log beside itself with its command line, how it was asked to show its
// window, and whether it has a console. With TARNVIK_DOUBLE_GATE set it first waits for that file,
// so a test can tell whether its starter waited for it.
#include <windows.h>

#include <string>

int wmain() {
    wchar_t gate[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"TARNVIK_DOUBLE_GATE", gate, MAX_PATH) > 0) {
        for (int i = 0; i < 2000 && ::GetFileAttributesW(gate) == INVALID_FILE_ATTRIBUTES; ++i) {
            ::Sleep(10);
        }
    }
    STARTUPINFOW startup{};
    ::GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;
    const std::wstring line = std::wstring(::GetCommandLineW()) + L"\tshow=" +
                              std::to_wstring(show) + L"\tconsole=" +
                              (::GetConsoleWindow() != nullptr ? L"1" : L"0") + L"\r\n";
    wchar_t self[MAX_PATH] = {};
    std::wstring log(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"command_double.log";
    const HANDLE file =
        ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    char utf8[4096] = {};
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8,
                              sizeof utf8, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(file, utf8, static_cast<DWORD>(length), &written, nullptr);
    ::CloseHandle(file);
    return 0;
}

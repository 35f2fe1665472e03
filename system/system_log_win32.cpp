// SPDX-License-Identifier: MIT
// The Application event log, reports on standard error or the console, and the text of what
// the system says: UTF-16 and back, errors, the log's code page, the user's date forms.
#include "diagnostics.h"
#include "repair.h"
#include "system.h"
#include "system_win32.h"

#include <cstdio>
#include <cstdlib>

namespace tarnvik {

namespace win32 {

std::wstring widen(std::string_view utf8) {
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              length);
    }
    return wide;
}

std::string narrow(std::wstring_view wide) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                              length, nullptr, nullptr);
    }
    return utf8;
}

std::string generalDateTime(const SYSTEMTIME& local, const wchar_t* localeName) {
    wchar_t date[128] = {};
    if (::GetDateFormatEx(localeName, DATE_SHORTDATE, &local, nullptr, date, 128, nullptr) == 0) {
        ::GetDateFormatEx(LOCALE_NAME_INVARIANT, 0, &local, L"yyyy'/'M'/'d", date, 128, nullptr);
    }
    std::wstring text = date;
    if (local.wHour != 0 || local.wMinute != 0 || local.wSecond != 0) {
        wchar_t time[128] = {};
        if (::GetTimeFormatEx(localeName, 0, &local, nullptr, time, 128) == 0) {
            ::GetTimeFormatEx(LOCALE_NAME_INVARIANT, 0, &local, L"H':'mm':'ss", time, 128);
        }
        text += L' ';
        text += time;
    }
    return gbkSafeDateTime(narrow(text), {local.wYear, local.wMonth, local.wDay, local.wHour,
                                          local.wMinute, local.wSecond});
}

std::string currentDateTime() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return generalDateTime(now, LOCALE_NAME_USER_DEFAULT);
}

} // namespace win32

namespace os {

std::string hostName() {
    wchar_t name[256] = {};
    DWORD size = 256;
    return ::GetComputerNameExW(ComputerNameDnsHostname, name, &size) ? win32::narrow(name) : "";
}

std::string userName() {
    wchar_t name[257] = {};
    DWORD size = 257;
    return ::GetUserNameW(name, &size) ? win32::narrow(name) : "";
}

namespace {

// The standard error the program was given (a pipe or a file), if any.
HANDLE givenErrorStream() {
    static const win32::UniqueHandle stream = []() -> win32::UniqueHandle {
        const HANDLE given = ::GetStdHandle(STD_ERROR_HANDLE);
        if (given == nullptr || given == INVALID_HANDLE_VALUE) {
            return win32::UniqueHandle();
        }
        // Not ours to close: duplicated, so the owner below may.
        HANDLE copy = nullptr;
        ::DuplicateHandle(::GetCurrentProcess(), given, ::GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
        return win32::UniqueHandle(copy);
    }();
    return stream.get();
}

void writeReport(HANDLE stream, const std::string& text, const std::wstring& wide) {
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(stream, &mode)) {
        ::WriteConsoleW(stream, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        ::WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

} // namespace

std::string errorText(int error) {
    wchar_t text[512] = {};
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, 512, nullptr);
    std::wstring message(text, length);
    while (!message.empty() &&
           (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : win32::narrow(message);
}

std::string toGbk(std::string_view utf8) {
    const std::wstring wide = win32::widen(utf8);
    const int length =
        ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                              nullptr, 0, "?", nullptr);
    std::string gbk(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                              gbk.data(), length, "?", nullptr);
    }
    return gbk;
}

std::string currentIsoDateTime() {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    TIME_ZONE_INFORMATION zone{};
    const DWORD kind = ::GetTimeZoneInformation(&zone);
    // The bias is minutes to add to local time to get UTC; daylight time adds its own.
    const long bias = zone.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0);
    const long offset = -bias;
    char text[40] = {};
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld", local.wYear,
                  local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                  offset < 0 ? '-' : '+', std::labs(offset) / 60, std::labs(offset) % 60);
    return text;
}

void systemRecord(SystemRecord kind, const std::string& text) {
    const HANDLE source = ::RegisterEventSourceW(nullptr, L"Tarnvik");
    if (source == nullptr) {
        return;
    }
    std::string_view line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    const std::wstring message = win32::widen(line);
    const wchar_t* strings[] = {message.c_str()};
    const WORD type = kind == SystemRecord::repairFailure ? EVENTLOG_ERROR_TYPE
                      : kind == SystemRecord::evidence    ? EVENTLOG_INFORMATION_TYPE
                                                          : EVENTLOG_WARNING_TYPE;
    ::ReportEventW(source, type, 0, static_cast<DWORD>(kind), nullptr, 1, 0, strings, nullptr);
    ::DeregisterEventSource(source);
}

void systemLog(const std::string& evidenceLine, Verdict verdict) {
    systemRecord(verdict == Verdict::changed || verdict == Verdict::newRouter ||
                         verdict == Verdict::routerFlood
                     ? SystemRecord::evidenceChanged
                     : SystemRecord::evidence,
                 "ARP evidence: " + std::string(verdictName(verdict)) + "\t" + evidenceLine);
}

void report(const std::string& line) {
    const std::string text = "tarnvik: " + printableExcerpt(line, 4096) + "\r\n";
    ::OutputDebugStringW(win32::widen(text).c_str());
    win32::writeText(text);
}

} // namespace os

namespace win32 {

bool writeText(const std::string& text) {
    const std::wstring wide = widen(text);
    if (const HANDLE given = os::givenErrorStream(); given != nullptr) {
        os::writeReport(given, text, wide);
        return true;
    }
    if (::GetConsoleWindow() != nullptr || !::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return false;
    }
    const UniqueHandle console(::CreateFileW(L"CONOUT$", GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    const bool written = console.get() != INVALID_HANDLE_VALUE;
    if (written) {
        os::writeReport(console.get(), text, wide);
    }
    ::FreeConsole();
    return written;
}

} // namespace win32
} // namespace tarnvik

// SPDX-License-Identifier: MIT
// Starting programs hidden, detached or run to their end with a deadline; which processes run,
// and whether this one is elevated.
#include "system.h"
#include "system_win32.h"

namespace tarnvik {

namespace win32 {

bool runningElevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    const UniqueHandle owned(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

} // namespace win32

namespace os {

namespace {

// A command line as CreateProcessW splits it again: arguments with blanks or quotes quoted,
// backslashes before a quote doubled.
std::wstring commandLine(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const auto& arg : argv) {
        const std::wstring wide = win32::widen(arg);
        if (!line.empty()) {
            line += L' ';
        }
        if (!wide.empty() && wide.find_first_of(L" \t\"") == std::wstring::npos) {
            line += wide;
            continue;
        }
        line += L'"';
        std::size_t backslashes = 0;
        for (const wchar_t c : wide) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, L'\\');
        line += L'"';
    }
    return line;
}

// The program to start: a path as given; a bare name only from the system directory, never
// from the program's or the current directory, where anyone might have put one.
std::wstring programPath(const std::string& program) {
    std::wstring wide = win32::widen(program);
    if (wide.find_first_of(L"\\/:") != std::wstring::npos) {
        return wide;
    }
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    if (wide.find(L'.') == std::wstring::npos) {
        wide += L".exe";
    }
    return std::wstring(system, length) + L'\\' + wide;
}

} // namespace

namespace {

// Starts argv hidden, with no console; 0 or the error of the lookup or start.
int startHidden(const std::vector<std::string>& argv, PROCESS_INFORMATION& started) {
    if (argv.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::wstring program = programPath(argv[0]);
    if (program.empty() || ::GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return ERROR_FILE_NOT_FOUND;
    }
    std::wstring line = commandLine(argv);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &started)) {
        return static_cast<int>(::GetLastError());
    }
    ::CloseHandle(started.hThread);
    return 0;
}

} // namespace

int startDetached(const std::vector<std::string>& argv, bool /*privileged*/) {
    PROCESS_INFORMATION started{};
    const int error = startHidden(argv, started);
    // Not awaited: the command runs on by itself.
    if (error == 0) {
        ::CloseHandle(started.hProcess);
    }
    return error;
}

RunOutcome runToEnd(const std::vector<std::string>& argv, bool /*privileged*/,
                    std::chrono::milliseconds deadline) {
    RunOutcome outcome;
    PROCESS_INFORMATION started{};
    if ((outcome.error = startHidden(argv, started)) != 0) {
        return outcome;
    }
    const win32::UniqueHandle process(started.hProcess);
    if (::WaitForSingleObject(process.get(), static_cast<DWORD>(deadline.count())) !=
        WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), INFINITE);
        outcome.timedOut = true;
    }
    DWORD status = 0;
    ::GetExitCodeProcess(process.get(), &status);
    outcome.exitStatus = static_cast<int>(status);
    return outcome;
}

namespace {

std::string creationTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return {};
    }
    return std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                          created.dwLowDateTime);
}

} // namespace

std::string processToken() {
    return std::to_string(::GetCurrentProcessId()) + " " + creationTime(::GetCurrentProcess());
}

bool processRunning(const std::string& token) {
    const auto blank = token.find(' ');
    if (blank == std::string::npos || blank == 0 || blank > 10 ||
        token.find_first_not_of("0123456789") != blank) {
        return false;
    }
    const auto pid = static_cast<DWORD>(std::stoull(token.substr(0, blank)));
    const win32::UniqueHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT &&
           creationTime(process.get()) == token.substr(blank + 1);
}

} // namespace os
} // namespace tarnvik

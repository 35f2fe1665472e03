// SPDX-License-Identifier: MIT
#include "system_win32.h"
#include "diagnostics.h"
#include "ip_text.h"
#include "neighbour.h"
#include "repair.h"
#include "system.h"

#include <iphlpapi.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
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

std::vector<Words> startupDiagnostics(bool elevated) {
    if (elevated) {
        return {};
    }
    return {{texts::kNotElevated}};
}

bool refusedReparseTag(DWORD tag) {
    return IsReparseTagNameSurrogate(tag);
}

// Windows sends no raw frame without a driver, but SendARP to the next hop sends an ARP request
// addressed to it that carries this machine's genuine mapping, which a Linux peer takes at once.
// It blocks until the answer or its own timeout: the caller runs it off the window's thread.
os::RunOutcome announceBySendArp(const NeighbourReading& genuine) {
    if (!genuine.ipv6.empty()) {
        // Windows sends no neighbour advertisement on request: an IPv6 router is not told.
        return {ERROR_NOT_SUPPORTED, 0, false};
    }
    ULONG answer[2] = {};
    ULONG length = sizeof answer;
    const DWORD error = ::SendARP(static_cast<IPAddr>(genuine.nextHop), 0, answer, &length);
    return {error == NO_ERROR ? 0 : static_cast<int>(error), 0, false};
}

std::string currentDateTime() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return generalDateTime(now, LOCALE_NAME_USER_DEFAULT);
}

} // namespace win32

namespace os {

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

std::filesystem::path executableDirectory() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2);
    }
}

bool writableDirectory(const std::filesystem::path& directory) {
    if (directory.empty()) {
        return false;
    }
    // Access rights are the file system's to decide, so ask it with a file that vanishes again.
    const auto probe =
        directory / (L".tarnvik-write-test-" + std::to_wstring(::GetCurrentProcessId()));
    const win32::UniqueHandle file(::CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.get() != INVALID_HANDLE_VALUE;
}

// With the system's calls, as the rest of this file: std::filesystem's operations would bring
// file streams and every locale facet into the executable.
int createPrivateDirectories(const std::filesystem::path& directory) {
    const DWORD attributes = ::GetFileAttributesW(directory.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_ALREADY_EXISTS;
    }
    const auto parent = directory.parent_path();
    if (parent != directory && !parent.empty()) {
        if (const int error = createPrivateDirectories(parent)) {
            return error;
        }
    }
    if (!::CreateDirectoryW(directory.c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return static_cast<int>(::GetLastError());
    }
    return 0;
}

int appendInOneWrite(const std::filesystem::path& path, std::string_view bytes,
                     bool /*ownerOnly*/) {
    // FILE_APPEND_DATA alone puts every write at the end of the file, whichever copy of the
    // program wrote last. The file is first opened as itself, never followed: a link (a name
    // surrogate) is refused, every other reparse point (a OneDrive placeholder, a deduplicated
    // file) is opened again normally, so that its filter serves the write, and only if it is
    // still the same file.
    auto open = [&](DWORD flags) {
        return win32::UniqueHandle(::CreateFileW(
            path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | flags, nullptr));
    };
    win32::UniqueHandle file = open(FILE_FLAG_OPEN_REPARSE_POINT);
    if (file.get() == INVALID_HANDLE_VALUE) {
        return static_cast<int>(::GetLastError());
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file.get(), &information)) {
        return static_cast<int>(::GetLastError());
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
            return static_cast<int>(::GetLastError());
        }
        if (win32::refusedReparseTag(tag.ReparseTag)) {
            return ERROR_CANT_ACCESS_FILE;
        }
        win32::UniqueHandle served = open(0);
        BY_HANDLE_FILE_INFORMATION again{};
        if (served.get() == INVALID_HANDLE_VALUE ||
            !::GetFileInformationByHandle(served.get(), &again) ||
            again.dwVolumeSerialNumber != information.dwVolumeSerialNumber ||
            again.nFileIndexHigh != information.nFileIndexHigh ||
            again.nFileIndexLow != information.nFileIndexLow) {
            return ERROR_CANT_ACCESS_FILE;
        }
        file = std::move(served);
    }
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr)) {
        return static_cast<int>(::GetLastError());
    }
    return written == bytes.size() ? 0 : ERROR_DISK_FULL;
}

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

// Our own small files are never opened through any reparse point.
win32::UniqueHandle openOwnFile(const std::filesystem::path& path, DWORD access,
                                DWORD disposition) {
    win32::UniqueHandle file(
        ::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (file.get() != INVALID_HANDLE_VALUE &&
        (!::GetFileInformationByHandle(file.get(), &information) ||
         (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return win32::UniqueHandle(INVALID_HANDLE_VALUE);
    }
    return file;
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

std::filesystem::path runtimeDirectory() {
    return {};
}

int replaceFile(const std::filesystem::path& path, std::string_view text, bool /*ownerOnly*/) {
    const auto file = openOwnFile(path, GENERIC_WRITE, OPEN_ALWAYS);
    DWORD written = 0;
    if (file.get() == INVALID_HANDLE_VALUE || !::SetEndOfFile(file.get()) ||
        !::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return static_cast<int>(::GetLastError());
    }
    return written == text.size() ? 0 : ERROR_DISK_FULL;
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit) {
    const auto file = openOwnFile(path, GENERIC_READ, OPEN_EXISTING);
    std::string text(limit, '\0');
    DWORD read = 0;
    if (file.get() == INVALID_HANDLE_VALUE ||
        !::ReadFile(file.get(), text.data(), static_cast<DWORD>(limit), &read, nullptr)) {
        return std::nullopt;
    }
    text.resize(read);
    return text;
}

int removeFile(const std::filesystem::path& path) {
    if (::DeleteFileW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        return 0;
    }
    return static_cast<int>(::GetLastError());
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& directory) {
    std::vector<std::filesystem::path> files;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((directory / L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            0) {
            files.push_back(directory / found.cFileName);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

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
    systemRecord(verdict == Verdict::changed || verdict == Verdict::newRouter
                     ? SystemRecord::evidenceChanged
                     : SystemRecord::evidence,
                 "ARP evidence: " + std::string(verdictName(verdict)) + "\t" + evidenceLine);
}

void report(const std::string& line) {
    const std::string text = "tarnvik: " + printableExcerpt(line, 4096) + "\r\n";
    ::OutputDebugStringW(win32::widen(text).c_str());
    win32::writeText(text);
}

std::vector<Words> startupDiagnostics() {
    return win32::startupDiagnostics(win32::runningElevated());
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

RepairSettings systemRepairSettings(std::function<std::string()> localDateTime) {
    const auto programDirectory = os::executableDirectory();
    const bool writable = os::writableDirectory(programDirectory);
    std::filesystem::path logDirectory = programDirectory;
    if (!writable) {
        // An install under Program Files: the user's own local application data instead.
        PWSTR localAppData = nullptr;
        if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &localAppData) == S_OK) {
            logDirectory = std::filesystem::path(localAppData) / L"Tarnvik";
        }
        ::CoTaskMemFree(localAppData);
        os::report("cannot write to " + os::pathText(programDirectory) + "; the attack log is " +
                   os::pathText(logDirectory / kAttackLogName));
    }
    RepairSettings settings{
        logDirectory,
        {"arp", "-d"},
        std::move(localDateTime),
        os::report,
        win32::runningElevated(),
        !writable,
        EvidenceSettings{logDirectory, os::currentIsoDateTime, readNeighbour,
                         neighbourWithLinkAddress, os::report, os::systemLog},
    };
    settings.systemRecord = os::systemRecord;
    // The IPv6 routers are read once a tick: Windows tells no neighbour changes.
    settings.ipv6Command = {"netsh", "interface", "ipv6", "delete", "neighbors"};
    settings.evidence->readRouters = readIpv6Routers;
    settings.evidence->ipv6Text = ipv6Text;
    settings.evidence->ipv6Holder = ipv6NeighbourWithLinkAddress;
    // The window shows them too: started from a menu, nobody reads standard error.
    settings.problems = os::startupDiagnostics();
    settings.announce = AnnounceSettings{win32::announceBySendArp, interfaceLinkAddress};
    return settings;
}

namespace {

// The IPv4 address of an interface, as arp names it; empty when it has none.
std::string interfaceAddress(int interfaceIndex) {
    ULONG size = 0;
    ::GetIpAddrTable(nullptr, &size, FALSE);
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (size == 0 || ::GetIpAddrTable(table, &size, FALSE) != NO_ERROR) {
        return {};
    }
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (static_cast<int>(table->table[i].dwIndex) == interfaceIndex) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(&table->table[i].dwAddr);
            return dottedText(ipv4FromOctets(bytes[0], bytes[1], bytes[2], bytes[3]));
        }
    }
    return {};
}

} // namespace

// arp -s and arp -d for the one address on its interface (netsh's add and delete neighbors for
// an IPv6 router's), run to their end (elevated, like the
// repair's arp -d). Windows marks no static entry as anyone's: each copy's record beside the logs
// says what it holds.
GuardSettings systemGuardSettings(const RepairSettings& settings) {
    const bool privileged = settings.privileged;
    // The repair's own program: arp from the system directory.
    const std::string arp = settings.command.empty() ? "arp" : settings.command.front();
    GuardSettings guard;
    guard.hold = [privileged, arp](const NeighbourReading& genuine) {
        std::string mac = genuine.linkAddress;
        std::replace(mac.begin(), mac.end(), ':', '-');
        if (!genuine.ipv6.empty()) {
            // An IPv6 router's entry, on its interface by index.
            return os::runToEnd({"netsh", "interface", "ipv6", "add", "neighbors",
                                 std::to_string(genuine.interfaceIndex), hopAddress(genuine), mac},
                                privileged, kHelperDeadline);
        }
        const std::string via = interfaceAddress(genuine.interfaceIndex);
        if (via.empty()) {
            return os::RunOutcome{ERROR_NOT_FOUND};
        }
        return os::runToEnd({arp, "-s", dottedText(genuine.nextHop), mac, via}, privileged,
                            kHelperDeadline);
    };
    guard.release = [privileged, arp](const NeighbourReading& held) {
        if (!held.ipv6.empty()) {
            return os::runToEnd({"netsh", "interface", "ipv6", "delete", "neighbors",
                                 std::to_string(held.interfaceIndex), hopAddress(held)},
                                privileged, kHelperDeadline);
        }
        const std::string via = interfaceAddress(held.interfaceIndex);
        std::vector<std::string> argv{arp, "-d", dottedText(held.nextHop)};
        if (!via.empty()) {
            argv.push_back(via);
        }
        return os::runToEnd(argv, privileged, kHelperDeadline);
    };
    guard.records = settings.logDirectory;
    if (!settings.privileged) {
        guard.unusable = {texts::kGuardNotElevated};
    }
    return guard;
}

} // namespace tarnvik

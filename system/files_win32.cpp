// SPDX-License-Identifier: MIT
// The program's own files with the system's calls (std::filesystem's would bring file streams and
// every locale facet into the executable): the logs appended in one write, small records
// replaced whole, never through a reparse point that names another file.
#include "system.h"
#include "system_win32.h"

#include <algorithm>

namespace tarnvik {

namespace win32 {

bool refusedReparseTag(DWORD tag) {
    return IsReparseTagNameSurrogate(tag);
}

} // namespace win32

namespace os {

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

int appendRotated(const std::filesystem::path& path, std::string_view bytes, std::uintmax_t limit,
                  bool ownerOnly) {
    // One copy of this session at a time looks at the size, rotates and appends.
    const win32::UniqueHandle turn(::CreateMutexW(nullptr, FALSE, L"Local\\tarnvik-log-rotation"));
    const bool taken =
        turn.get() != nullptr && ::WaitForSingleObject(turn.get(), 5000) != WAIT_TIMEOUT;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        const std::uintmax_t size =
            (static_cast<std::uintmax_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        auto previous = path;
        previous += ".1";
        if (size > 0 && size + bytes.size() > limit) {
            // A failed rotation keeps the record, in a file that grows on.
            (void)::MoveFileExW(path.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    const int error = appendInOneWrite(path, bytes, ownerOnly);
    if (taken) {
        ::ReleaseMutex(turn.get());
    }
    return error;
}

namespace {

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

} // namespace os
} // namespace tarnvik

// SPDX-License-Identifier: MIT
// What only the Windows edition has: UTF-16 for the system's wide calls, the date forms of the
// user's locale, and the elevation that "arp -d" needs.
#pragma once

#include "neighbour.h"
#include "system.h"
#include "texts.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvik::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
        }
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The general date-and-time form of `localeName` (LOCALE_NAME_USER_DEFAULT for the user's own):
// short date, a blank, long time; the time left out at exactly 00:00:00. The Chinese (PRC) forms
// yyyy/M/d and H:mm:ss where the locale gives none. UTF-8.
std::string generalDateTime(const SYSTEMTIME& local, const wchar_t* localeName);

// A log is never written through a reparse point that names another file (a symbolic link, a
// junction, a mount point: the tag's name-surrogate bit); every other kind (cloud placeholders,
// deduplicated files) is written through.
bool refusedReparseTag(DWORD tag);

// The current local date and time in the user's general form.
std::string currentDateTime();

// Whether this process runs elevated, as "arp -d" needs.
bool runningElevated();

// The start-up diagnostics for a process that is or is not elevated.
std::vector<Words> startupDiagnostics(bool elevated);
// Tells the next hop our address with SendARP (one request), run to its end; an IPv6 router
// cannot be told (ERROR_NOT_SUPPORTED).
os::RunOutcome announceBySendArp(const NeighbourReading& genuine);

// What the guard may do with a neighbour's entry as the table holds it now (`now`), Windows marking
// no static entry as anyone's: a hold never replaces a static entry (an administrator's, or one
// made since); a release deletes only the static entry that holds what we held. None: go on.
std::optional<os::RunOutcome> guardRefusal(const NeighbourReading& now,
                                           const NeighbourReading& ours, bool release);

// Writes `text` to the standard error the program was given, else to the console of the command
// prompt it was started from, attached for the moment of the write only (a process attached to a
// console ends when that console is closed, and keeps it open). False when there is neither.
bool writeText(const std::string& text);

} // namespace tarnvik::win32

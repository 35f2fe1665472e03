// SPDX-License-Identifier: MIT
// The operating-system seam of the window's side: where the program lives, appending to a file,
// starting a command detached, the log's code page, the locale's date and time, and where
// reports go. system_posix.cpp and system_win32.cpp implement it; nothing else in monitor/ calls
// the operating system. Errors are the system's own numbers (errno, or GetLastError), never
// exceptions.
#pragma once

#include "launch.h"
#include "verdict.h"

#include "texts.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvik::os {

// The directory of the running executable; empty if it cannot be found out.
std::filesystem::path executableDirectory();

// Whether this process's user may create files in `directory`.
bool writableDirectory(const std::filesystem::path& directory);

// Appends `bytes` to `path` (created if missing) in a single write, so that lines of two running
// copies never interleave, and never leaves part of them behind. A file it creates with
// `ownerOnly` is readable by this user alone (POSIX; a Windows user's own folders already are).
// Returns 0 or the error that stopped it.
int appendInOneWrite(const std::filesystem::path& path, std::string_view bytes,
                     bool ownerOnly = false);

// Appends as appendInOneWrite does to a log kept under `limit` bytes: where `bytes` would pass it,
// the file is first renamed to `path` + ".1" (the one previous file, replaced), so that a new one
// begins and a follower sees the rotation. Copies of the program that append at once rotate once
// between them and lose nothing. Returns 0 or the error that stopped it.
int appendRotated(const std::filesystem::path& path, std::string_view bytes, std::uintmax_t limit,
                  bool ownerOnly = false);

// Creates `directory` (absolute) and its missing parents, each open to this user alone on POSIX
// (0700, as the XDG rules ask of the state directory); an existing parent keeps its mode. Never
// through a link the user could have laid (ELOOP): `directory` itself must be a directory this
// user owns that nobody else may write to (else EPERM). Returns 0 or the error that stopped it;
// nothing may be written into a directory that failed.
int createPrivateDirectories(const std::filesystem::path& directory);

// Starts argv[0] with the other arguments, with no console or window of its own, and does not
// wait for it. A bare program name is looked up where the system keeps its own programs (and,
// unprivileged on POSIX, through the user's PATH). Returns 0 once the program runs, or the error
// of the lookup or start that failed.
int startDetached(const std::vector<std::string>& argv, bool privileged);

// The system's description of an error number from the calls above.
std::string errorText(int error);

// How a program that was run to its end went.
struct RunOutcome {
    int error = 0;         // it could not be started: the error of the lookup or start
    int exitStatus = 0;    // its exit status; -1 when a signal ended it
    bool timedOut = false; // still running at the deadline, and ended then
    bool succeeded() const { return error == 0 && exitStatus == 0 && !timedOut; }
};

// A command line as it is reported: its arguments joined by blanks.
inline std::string commandText(const std::vector<std::string>& argv) {
    std::string text;
    for (const auto& arg : argv) {
        text += (text.empty() ? "" : " ") + arg;
    }
    return text;
}

// What went wrong, in words: the error's text, "exited with status 3", or the deadline.
inline std::string outcomeText(const RunOutcome& outcome) {
    if (outcome.error != 0) {
        return errorText(outcome.error);
    }
    if (outcome.timedOut) {
        return "did not end in time";
    }
    return outcome.exitStatus < 0 ? std::string("ended by a signal")
                                  : "exited with status " + std::to_string(outcome.exitStatus);
}

// Starts a program as startDetached does, but waits for it to end, at most `deadline` (then it
// is ended). For the short helpers whose outcome matters: the flush that arms the watch, a hold
// and its release.
RunOutcome runToEnd(const std::vector<std::string>& argv, bool privileged,
                    std::chrono::milliseconds deadline);

// This process as text that no other process, running or later, shares (its id and start time).
std::string processToken();
// Whether the process that `token` names still runs.
bool processRunning(const std::string& token);

// The user's directory for what lives only as long as the session ($XDG_RUNTIME_DIR/tarnvik;
// /run/tarnvik for root, whatever the environment says); empty where there is none (Windows, or
// no such variable).
std::filesystem::path runtimeDirectory();

// Small files of the program's own: written whole, replacing what was there, never through a
// symbolic link or a reparse point that names another file (0 or the error); read whole up to
// `limit` bytes (nothing when absent or unreadable); removed (0 or the error; absent is 0); the
// regular files a directory holds, by name.
int replaceFile(const std::filesystem::path& path, std::string_view text, bool ownerOnly);
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit);
int removeFile(const std::filesystem::path& path);
std::vector<std::filesystem::path> filesIn(const std::filesystem::path& directory);

// The deployed configuration's layers, the least binding first (launch.h): Linux the XDG system
// files (tarnvik/tarnvik.conf in $XDG_CONFIG_DIRS, /etc/xdg by default), then the user's own;
// Windows the policy key HKLM\SOFTWARE\Policies\Tarnvik, every value of it locked, then
// HKCU\SOFTWARE\Tarnvik.
std::vector<ConfigLayer> configurationLayers();

// UTF-8 text in code page 936 (GBK), whatever the system's own code page; characters GBK lacks
// become '?'.
std::string toGbk(std::string_view utf8);

// The current local date and time in ISO 8601 with its offset: 2026-12-07T09:05:03+01:00.
std::string currentIsoDateTime();

// Who writes the records: this machine's name (its host name, not the domain) and this
// process's user; empty when unknown.
std::string hostName();
std::string userName();

// One evidence record to the system's own log (the journal, else syslog; the Windows
// Application event log), the verdict in its message. A failure there is ignored: the file has it.
void systemLog(const std::string& evidenceLine, Verdict verdict);

// One record of another kind (an attack's line, a failed repair) to the same log, its text as
// it stands.
void systemRecord(SystemRecord kind, const std::string& text);

// One line to wherever this system's user and a tester can read the program's reports.
void report(const std::string& line);

// What the program says at start when it cannot do its whole job here, each with its remedy.
std::vector<Words> startupDiagnostics();

// A path as UTF-8 text.
inline std::string pathText(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return {text.begin(), text.end()};
}

} // namespace tarnvik::os

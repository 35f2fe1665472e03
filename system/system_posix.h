// SPDX-License-Identifier: MIT
// What only the Linux edition has: the attack log's place under the XDG rules, the capable flush
// helper, the process's privileges, and the date forms from Qt's locale data.
#pragma once

#include "diagnostics.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarnvik {

inline constexpr const char* kFlushHelperName = "tarnvik-flush";

// The attack log's directory: the program's own where its user may write, as always; otherwise
// (an installed program) $XDG_STATE_HOME/tarnvik, or ~/.local/state/tarnvik without it; empty
// when neither names an absolute directory.
std::filesystem::path attackLogDirectory(const std::filesystem::path& programDirectory,
                                         bool programDirectoryWritable,
                                         const std::string& xdgStateHome, const std::string& home);

// The helper beside the program by its absolute path, or "ip -4 neigh flush all" without it;
// for `ipv6`, the same in its IPv6 mode.
std::vector<std::string> flushCommand(const std::filesystem::path& programDirectory,
                                      bool helperPresent, bool ipv6 = false);

// What stops --guard from holding anything here, with its remedy; empty when nothing does.
Words guardProblem(const std::filesystem::path& helper, bool present, bool root, bool member,
                   bool capable, const std::string& user);

// This process's echo socket, privileges and flush helper, for the start-up diagnostics.
StartupFacts systemStartupFacts();

namespace posix {

// Whether this process runs with more than its user's rights: as root, set-id, or with any
// capability.
bool runningPrivileged();

// Whether `program` carries the file capability `capability` (a CAP_* number) as permitted and
// effective.
bool hasFileCapability(const std::filesystem::path& program, int capability);

// An executable regular file?
bool executableFile(const std::filesystem::path& path);

} // namespace posix
} // namespace tarnvik

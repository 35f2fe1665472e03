// The operating-system calls of the window's side, in plain POSIX: where the program lives,
// appending to a file, starting a command detached, and the log's code page.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvik::posix {

// The directory of the running executable, from /proc/self/exe; empty if it cannot be read.
std::filesystem::path executableDirectory();

// Appends `bytes` to `path` (created if missing) in a single write, so that lines of two running
// copies never interleave. Returns 0 or the errno that stopped it.
int appendInOneWrite(const std::filesystem::path& path, std::string_view bytes);

// Starts argv[0] with no shell, standard input and output on /dev/null, in a session of its own,
// and does not wait for it. The command is never left as a zombie: an intermediate child that
// exits at once hands it to init. Unprivileged, a bare name is looked up through PATH and the
// child inherits the environment; privileged, a bare name is looked up only in the system's
// program directories and the child gets a minimal environment of ours, so that nothing the
// user's environment says (PATH, LD_PRELOAD, ...) reaches a privileged child. Returns 0 once the
// program runs, or the errno of the lookup, fork or exec that failed.
int startDetached(const std::vector<std::string>& argv, bool privileged);

// Whether this process runs with more than its user's rights: as root, set-id, or with any
// capability.
bool runningPrivileged();

// Whether this process's user may create files in `directory`.
bool writableDirectory(const std::filesystem::path& directory);

// Whether `program` carries the file capability `capability` (a CAP_* number) as permitted and
// effective.
bool hasFileCapability(const std::filesystem::path& program, int capability);

// An executable regular file?
bool executableFile(const std::filesystem::path& path);

// UTF-8 text in code page 936 (GBK); characters GBK lacks become '?'.
std::string toGbk(std::string_view utf8);

// Bytes of the UTF-8 sequence that `lead` starts (1 for ASCII and for a stray continuation byte).
std::size_t utf8SequenceLength(unsigned char lead);

} // namespace tarnvik::posix

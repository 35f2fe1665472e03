// SPDX-License-Identifier: MIT
// Starting programs: detached, or run to their end with a deadline; a privileged program's children
// get a minimal environment of ours. Which processes run, and what privileges this one has.
#include "system.h"
#include "system_posix.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <linux/close_range.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

extern char** environ;

namespace tarnvik {

namespace {

constexpr const char* kSystemProgramDirs = "/usr/sbin:/usr/bin:/sbin:/bin";

// The path of `program` as execve wants it: as given when it names a path, else the first
// executable regular file of that name in `searchPath`.
std::string findProgram(const std::string& program, std::string_view dirs) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

} // namespace

namespace os {

namespace {

// A command ready to start: everything the child needs is built before fork, since after it
// only async-signal-safe calls may be made.
struct Command {
    std::string program;
    std::vector<std::string> minimal{std::string("PATH=") + kSystemProgramDirs, "LC_ALL=C"};
    std::vector<char*> minimalEnvironment;
    std::vector<char*> args;
    char** environment = environ;
};

// Unprivileged, a bare name is looked up through PATH and the child inherits the environment;
// privileged, only in the system's program directories, and the child gets a minimal
// environment of ours, so that nothing the user's environment says (PATH, LD_PRELOAD, ...)
// reaches a privileged child. 0 or the error of the lookup.
int prepare(const std::vector<std::string>& argv, bool privileged, Command& command) {
    if (argv.empty()) {
        return EINVAL;
    }
    const char* userPath = std::getenv("PATH");
    command.program =
        findProgram(argv[0], privileged || userPath == nullptr ? kSystemProgramDirs : userPath);
    if (command.program.empty()) {
        return ENOENT;
    }
    for (auto& variable : command.minimal) {
        command.minimalEnvironment.push_back(variable.data());
    }
    command.minimalEnvironment.push_back(nullptr);
    if (privileged) {
        command.environment = command.minimalEnvironment.data();
    }
    for (const auto& arg : argv) {
        command.args.push_back(const_cast<char*>(arg.c_str()));
    }
    command.args.push_back(nullptr);
    return 0;
}

// In the child: no shell; standard input and output on /dev/null, in a session of its own, with
// nothing of ours beyond the three standard streams (the helper may be privileged). The errno of
// a failed exec goes to `report`, which closes on a successful one.
[[noreturn]] void execute(const Command& command, int report) {
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        if (null > STDERR_FILENO) {
            ::close(null);
        }
    }
    // Marking rather than closing keeps the report pipe until exec.
    ::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(command.program.c_str(), command.args.data(), command.environment);
    int error = errno;
    (void)!::write(report, &error, sizeof error);
    ::_exit(127);
}

// The errno the report pipe carries, or 0 when it closed on a successful exec.
int startError(int report) {
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(report, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

void reap(pid_t child, int* status) {
    while (::waitpid(child, status, 0) < 0 && errno == EINTR) {
    }
}

// What execute() does, for a program run to its end: posix_spawn starts it without copying this
// process first (vfork-like), which is most of what a helper costs at an attack's pace. (A
// detached start keeps its double fork: a reaping thread for each would hold memory.)
class SpawnAttributes {
  public:
    SpawnAttributes() {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
        ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
        sigset_t signals;
        sigemptyset(&signals);
        ::posix_spawnattr_setsigmask(&attributes_, &signals);
        sigaddset(&signals, SIGPIPE);
        ::posix_spawnattr_setsigdefault(&attributes_, &signals);
        ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                     POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes() {
        ::posix_spawnattr_destroy(&attributes_);
        ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    // 0 and the child's id, or the error of the start (exec's own included).
    int spawn(const Command& command, pid_t& child) const {
        return ::posix_spawn(&child, command.program.c_str(), &actions_, &attributes_,
                             command.args.data(), command.environment);
    }

  private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

// Waits for `child` until `end`: on a descriptor for it where the kernel has them, else by
// looking every millisecond. The pid of the ended child (its status in `status`), 0 at the
// deadline, or -1 (errno) when its end cannot be seen.
pid_t waitUntil(pid_t child, int* status, std::chrono::steady_clock::time_point end) {
    const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    pid_t done = 0;
    while ((done = ::waitpid(child, status, WNOHANG)) == 0 || (done < 0 && errno == EINTR)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            done = 0;
            break;
        }
        if (descriptor >= 0) {
            pollfd ended{descriptor, POLLIN, 0};
            (void)::poll(&ended, 1, static_cast<int>(left.count()) + 1);
        } else {
            ::usleep(1000);
        }
    }
    const int error = errno;
    if (descriptor >= 0) {
        ::close(descriptor);
    }
    errno = error;
    return done;
}

} // namespace

// The command is never left as a zombie: an intermediate child that exits at once hands it to
// init.
int startDetached(const std::vector<std::string>& argv, bool privileged) {
    Command command;
    if (const int error = prepare(argv, privileged, command)) {
        return error;
    }
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return errno;
    }
    const pid_t middle = ::fork();
    if (middle == 0) {
        const pid_t started = ::fork();
        if (started == 0) {
            execute(command, report[1]);
        }
        int error = started < 0 ? errno : 0;
        if (error != 0) {
            (void)!::write(report[1], &error, sizeof error);
        }
        ::_exit(error != 0 ? 1 : 0);
    }
    ::close(report[1]);
    if (middle < 0) {
        const int error = errno;
        ::close(report[0]);
        return error;
    }
    reap(middle, nullptr);
    return startError(report[0]);
}

RunOutcome runToEnd(const std::vector<std::string>& argv, bool privileged,
                    std::chrono::milliseconds deadline) {
    RunOutcome outcome;
    Command command;
    if ((outcome.error = prepare(argv, privileged, command)) != 0) {
        return outcome;
    }
    pid_t child = 0;
    if ((outcome.error = SpawnAttributes().spawn(command, child)) != 0) {
        return outcome;
    }
    int status = 0;
    const pid_t done = waitUntil(child, &status, std::chrono::steady_clock::now() + deadline);
    if (done < 0) {
        // Its end went unseen (reaped elsewhere, SIGCHLD ignored): how it went is not known, and
        // an unknown outcome is no success.
        outcome.error = errno;
        return outcome;
    }
    if (done == 0) {
        ::kill(child, SIGKILL);
        reap(child, &status);
        outcome.timedOut = true;
    }
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

namespace {

// Field 22 of /proc/PID/stat, the start time in clock ticks since boot: with the id, it names
// one process for good, since ids are reused. Empty when the process does not exist.
std::string startTime(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return {};
    }
    // The command name in parentheses may hold blanks; the fields after it do not.
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return {};
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
    }
    return field;
}

} // namespace

std::string processToken() {
    const std::string pid = std::to_string(::getpid());
    return pid + " " + startTime(pid);
}

bool processRunning(const std::string& token) {
    const auto blank = token.find(' ');
    if (blank == std::string::npos || blank == 0 ||
        token.find_first_not_of("0123456789") != blank) {
        return false;
    }
    const std::string pid = token.substr(0, blank);
    const std::string started = startTime(pid);
    return !started.empty() && started == token.substr(blank + 1);
}

} // namespace os

namespace posix {

bool runningPrivileged() {
    if (::geteuid() == 0 || ::geteuid() != ::getuid() || ::getegid() != ::getgid()) {
        return true;
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("CapEff:", 0) == 0 || line.rfind("CapPrm:", 0) == 0) {
            if (std::stoull(line.substr(7), nullptr, 16) != 0) {
                return true;
            }
        }
    }
    return false;
}

bool hasFileCapability(const std::filesystem::path& program, int capability) {
    // struct vfs_cap_data: magic and flags, then permitted and inheritable words, little-endian.
    std::uint8_t data[24] = {};
    const ssize_t size = ::getxattr(program.c_str(), "security.capability", data, sizeof data);
    if (size < 12 || capability < 0 || capability >= 64) {
        return false;
    }
    auto word = [&](std::size_t at) {
        return std::uint32_t{data[at]} | std::uint32_t{data[at + 1]} << 8 |
               std::uint32_t{data[at + 2]} << 16 | std::uint32_t{data[at + 3]} << 24;
    };
    const bool effective = (word(0) & 0x000001u) != 0;
    const std::size_t permittedAt = capability < 32 ? 4 : 12;
    if (permittedAt + 4 > static_cast<std::size_t>(size)) {
        return false;
    }
    return effective && ((word(permittedAt) >> (capability % 32)) & 1u) != 0;
}

bool executableFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

} // namespace posix

} // namespace tarnvik

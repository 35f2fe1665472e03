// SPDX-License-Identifier: MIT
#include "system_posix.h"
#include "diagnostics.h"
#include "ip_text.h"
#include "neighbour.h"
#include "repair.h"
#include "system.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iconv.h>
#include <iostream>
#include <linux/capability.h>
#include <linux/close_range.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <syslog.h>
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

std::filesystem::path executableDirectory() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path{} : self.parent_path();
}

namespace {

// Opens `path` for writing with `mode` (O_APPEND or O_TRUNC), never through a symbolic link:
// planted where others may write, it would send a privileged program's bytes into any file.
// Writes all of `bytes`; a write the disk refused part-way is cut off again with `undoPartial`,
// so that a log only ever holds whole lines. Returns 0 or the error that stopped it.
int writeFile(const std::filesystem::path& path, int mode, std::string_view bytes, bool ownerOnly,
              bool undoPartial) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | mode,
                          ownerOnly ? 0600 : 0644);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (error != 0 && done > 0 && undoPartial) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        if (end >= static_cast<off_t>(done)) {
            (void)!::ftruncate(fd, end - static_cast<off_t>(done));
        }
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

} // namespace

// O_APPEND puts the one write at the end of the file, whichever copy of the program wrote last.
int appendInOneWrite(const std::filesystem::path& path, std::string_view bytes, bool ownerOnly) {
    return writeFile(path, O_APPEND, bytes, ownerOnly, true);
}

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
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        outcome.error = errno;
        return outcome;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        execute(command, report[1]);
    }
    ::close(report[1]);
    if (child < 0) {
        outcome.error = errno;
        ::close(report[0]);
        return outcome;
    }
    outcome.error = startError(report[0]);
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + deadline;
    pid_t done = 0;
    while ((done = ::waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < end) {
        ::usleep(1000);
    }
    if (done == 0) {
        ::kill(child, SIGKILL);
        reap(child, &status);
        outcome.timedOut = outcome.error == 0;
    }
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

int createPrivateDirectories(const std::filesystem::path& directory) {
    std::filesystem::path partial;
    for (const auto& part : directory) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0) {
            const int error = errno;
            struct stat existing {};
            if (::stat(partial.c_str(), &existing) != 0 || !S_ISDIR(existing.st_mode)) {
                return error;
            }
        }
    }
    return 0;
}

bool writableDirectory(const std::filesystem::path& directory) {
    return !directory.empty() && ::access(directory.c_str(), W_OK | X_OK) == 0;
}

std::string toGbk(std::string_view utf8) {
    const iconv_t converter = ::iconv_open("GBK", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return std::string(utf8);
    }
    std::string out;
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char buffer[256];
    while (inLeft > 0) {
        char* next = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = ::iconv(converter, &in, &inLeft, &next, &outLeft);
        out.append(buffer, static_cast<std::size_t>(next - buffer));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A character GBK lacks, or broken UTF-8: one '?' in its place.
            const std::size_t skip =
                std::min(inLeft, utf8SequenceLength(static_cast<unsigned char>(*in)));
            in += skip;
            inLeft -= skip;
            out += '?';
        }
    }
    ::iconv_close(converter);
    return out;
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

std::filesystem::path runtimeDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return {};
    }
    return std::filesystem::path(runtime) / "tarnvik";
}

int replaceFile(const std::filesystem::path& path, std::string_view text, bool ownerOnly) {
    return writeFile(path, O_TRUNC, text, ownerOnly, false);
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text(limit, '\0');
    const ssize_t got = ::read(fd, text.data(), limit);
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(got));
    return text;
}

int removeFile(const std::filesystem::path& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& directory) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        if (entry.is_regular_file(error) && !entry.is_symlink(error)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string errorText(int error) {
    return std::strerror(error);
}

std::string currentIsoDateTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[40] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string iso = text;
    // %z gives +0100; ISO 8601's extended form, as the date and time have, is +01:00.
    if (iso.size() >= 5) {
        iso.insert(iso.size() - 2, ":");
    }
    return iso;
}

namespace {

// The journal's native protocol, one datagram of FIELD=value lines (no value here holds a line
// break), on a socket of its own that is closed again: libsystemd's sd_journal_send would keep
// one open for the rest of the process. Without a journal, the classic system log.
void sendToJournal(const std::string& message, int priority, const std::string& fields) {
    const std::string record = "MESSAGE=" + message + "\nPRIORITY=" + std::to_string(priority) +
                               "\nSYSLOG_IDENTIFIER=tarnvik\n" + fields;
    const int journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/systemd/journal/socket");
    const ssize_t sent =
        journal < 0 ? -1
                    : ::sendto(journal, record.data(), record.size(), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (journal >= 0) {
        ::close(journal);
    }
    if (sent < 0) {
        ::openlog("tarnvik", LOG_PID, LOG_USER);
        ::syslog(priority, "%s", message.c_str());
        ::closelog();
    }
}

} // namespace

void systemLog(const std::string& evidenceLine, Verdict verdictKind) {
    const std::string verdict = verdictName(verdictKind);
    std::vector<std::string> fields;
    std::string_view rest = evidenceLine;
    rest = rest.substr(0, rest.find('\n'));
    for (std::size_t tab; (tab = rest.find('\t')) != std::string_view::npos;) {
        fields.emplace_back(rest.substr(0, tab));
        rest.remove_prefix(tab + 1);
    }
    fields.emplace_back(rest);
    if (fields.size() != 8) {
        return;
    }
    const std::string message = "ARP evidence for " + fields[1] + ": " + verdict + " (next hop " +
                                fields[2] + ", was " + fields[3] + ", now " + fields[4] + " " +
                                fields[5] +
                                (fields[7] != "-" ? ", held by " + fields[7] : std::string()) + ")";
    const int priority = verdictKind == Verdict::changed || verdictKind == Verdict::newRouter
                             ? LOG_WARNING
                             : LOG_NOTICE;
    // The baseline keeps its field's first name, which stored records and filters use.
    const std::pair<const char*, std::size_t> names[] = {
        {"TARNVIK_TIME", 0},          {"TARNVIK_PROBED", 1},  {"TARNVIK_NEXT_HOP", 2},
        {"TARNVIK_LAST_GOOD_MAC", 3}, {"TARNVIK_MAC_NOW", 4}, {"TARNVIK_STATE", 5},
        {"TARNVIK_ATTACKER_IP", 7}};
    std::string record = "TARNVIK_VERDICT=" + verdict + "\n";
    for (const auto& [name, field] : names) {
        record += std::string(name) + "=" + fields[field] + "\n";
    }
    sendToJournal(message, priority, record);
}

void systemRecord(SystemRecord kind, const std::string& text) {
    const bool failure = kind == SystemRecord::repairFailure;
    // One line, as the journal's protocol here carries them.
    const std::string line = text.substr(0, text.find_first_of("\r\n"));
    sendToJournal(line, failure ? LOG_ERR : LOG_WARNING,
                  std::string("TARNVIK_RECORD=") + (failure ? "repair-failure" : "attack") + "\n");
}

void report(const std::string& line) {
    // Reports quote paths and typed names; no control character of theirs reaches a terminal.
    std::cerr << "tarnvik: " << printableExcerpt(line, 4096) << std::endl;
}

std::vector<Words> startupDiagnostics() {
    return tarnvik::startupDiagnostics(systemStartupFacts());
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

std::filesystem::path attackLogDirectory(const std::filesystem::path& programDirectory,
                                         bool programDirectoryWritable,
                                         const std::string& xdgStateHome, const std::string& home) {
    if (programDirectoryWritable) {
        return programDirectory;
    }
    // The XDG base directory rules ignore a relative path. Without either there is no place of
    // the user's: a relative one would put the log wherever the working directory happens to be.
    const auto absolute = [](const std::string& path) { return !path.empty() && path[0] == '/'; };
    if (absolute(xdgStateHome)) {
        return std::filesystem::path(xdgStateHome) / "tarnvik";
    }
    if (absolute(home)) {
        return std::filesystem::path(home) / ".local" / "state" / "tarnvik";
    }
    return {};
}

std::vector<std::string> flushCommand(const std::filesystem::path& programDirectory,
                                      bool helperPresent, bool ipv6) {
    if (helperPresent) {
        if (ipv6) {
            return {(programDirectory / kFlushHelperName).string(), "ipv6"};
        }
        return {(programDirectory / kFlushHelperName).string()};
    }
    return {"ip", ipv6 ? "-6" : "-4", "neigh", "flush", "all"};
}

RepairSettings systemRepairSettings(std::function<std::string()> localDateTime) {
    const auto programDirectory = os::executableDirectory();
    const bool writable = os::writableDirectory(programDirectory);
    auto environment = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    };
    // An installed program never writes beside itself, under /usr, even where root may.
    std::error_code ignored;
    const bool installed =
        programDirectory == std::filesystem::weakly_canonical(TARNVIK_INSTALLED_BINDIR, ignored) ||
        programDirectory == std::filesystem::weakly_canonical(TARNVIK_PACKAGE_BINDIR, ignored);
    const bool root = ::geteuid() == 0;
    const auto logDirectory =
        installed && root ? std::filesystem::path("/var/log/tarnvik")
                          : attackLogDirectory(programDirectory, writable && !installed,
                                               environment("XDG_STATE_HOME"), environment("HOME"));
    if (logDirectory.empty()) {
        os::report("neither XDG_STATE_HOME nor HOME names an absolute directory, so the attack "
                   "log has no place to go; repairs will not run until one of them does");
    } else if (installed) {
        os::report("the attack log is " + (logDirectory / kAttackLogName).string());
    } else if (!writable) {
        os::report("cannot write to " + programDirectory.string() + "; the attack log is " +
                   (logDirectory / kAttackLogName).string());
    }
    RepairSettings settings{
        logDirectory,
        flushCommand(programDirectory, posix::executableFile(programDirectory / kFlushHelperName)),
        std::move(localDateTime),
        os::report,
        posix::runningPrivileged(),
        logDirectory != programDirectory,
        EvidenceSettings{logDirectory, os::currentIsoDateTime, readNeighbour,
                         neighbourWithLinkAddress, os::report, os::systemLog,
                         logDirectory != programDirectory, std::make_shared<NeighbourEvents>()},
    };
    settings.systemRecord = os::systemRecord;
    settings.ipv6Command = flushCommand(
        programDirectory, posix::executableFile(programDirectory / kFlushHelperName), true);
    settings.evidence->readRouters = readIpv6Routers;
    settings.evidence->ipv6Text = ipv6Text;
    settings.evidence->ipv6Holder = ipv6NeighbourWithLinkAddress;
    // The window shows them too: started from a menu, nobody reads standard error.
    settings.problems = os::startupDiagnostics();
    // The question to the next hop's known address, where tarnvik-arp may send it.
    const auto asker = programDirectory / "tarnvik-arp";
    if (posix::executableFile(asker) &&
        (::geteuid() == 0 || posix::hasFileCapability(asker, CAP_NET_RAW))) {
        const bool privileged = settings.privileged;
        settings.evidence->ask = [asker, privileged](const NeighbourReading& asked) {
            return os::runToEnd({asker.string(), "ask", std::to_string(asked.interfaceIndex),
                                 hopAddress(asked), asked.linkAddress, "900"},
                                privileged, kHelperDeadline);
        };
        // The same request without waiting for its answer tells the next hop our address; an
        // IPv6 router is told by a neighbour advertisement.
        settings.announce = AnnounceSettings{
            [asker, privileged](const NeighbourReading& genuine) {
                return os::runToEnd({asker.string(), genuine.ipv6.empty() ? "ask" : "tell",
                                     std::to_string(genuine.interfaceIndex), hopAddress(genuine),
                                     genuine.linkAddress},
                                    privileged, kHelperDeadline);
            },
            interfaceLinkAddress};
    } else {
        settings.problems.push_back(
            {texts::kCannotAsk, {asker.string(), std::to_string(kTicksAbsentForAMove)}});
        os::report(settings.problems.back().render());
    }
    return settings;
}

namespace {

bool inGroup(const char* name) {
    const group* wanted = ::getgrnam(name);
    if (wanted == nullptr) {
        return false;
    }
    if (::getgid() == wanted->gr_gid) {
        return true;
    }
    gid_t groups[NGROUPS_MAX];
    const int count = std::max(::getgroups(NGROUPS_MAX, groups), 0);
    return std::find(groups, groups + count, wanted->gr_gid) != groups + count;
}

std::string userName() {
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr ? user->pw_name : std::to_string(::getuid());
}

} // namespace

Words guardProblem(const std::filesystem::path& helper, bool present, bool root, bool member,
                   bool capable, const std::string& user) {
    const std::string path = helper.string();
    if (!present) {
        return {texts::kHoldHelperMissing, {path}};
    }
    if (root) {
        return {};
    }
    if (!member) {
        return {texts::kNotInGroup, {path, user}};
    }
    if (!capable) {
        return {texts::kHoldHelperIncapable, {path}};
    }
    return {};
}

// tarnvik-hold beside the program, run to its end; the records in the user's runtime
// directory, else beside the logs.
GuardSettings systemGuardSettings(const RepairSettings& settings) {
    const auto helper = os::executableDirectory() / "tarnvik-hold";
    const bool privileged = settings.privileged;
    GuardSettings guard;
    guard.hold = [helper, privileged](const NeighbourReading& genuine) {
        return os::runToEnd({helper.string(), std::to_string(genuine.interfaceIndex),
                             hopAddress(genuine), genuine.linkAddress},
                            privileged, kHelperDeadline);
    };
    guard.release = [helper, privileged](const NeighbourReading& held) {
        return os::runToEnd({helper.string(), "--release", hopAddress(held)}, privileged,
                            kHelperDeadline);
    };
    const auto runtime = os::runtimeDirectory();
    guard.records = runtime.empty() ? settings.logDirectory : runtime;
    const bool present = posix::executableFile(helper);
    guard.unusable =
        guardProblem(helper, present, ::geteuid() == 0, inGroup("tarnvik"),
                     present && posix::hasFileCapability(helper, CAP_NET_ADMIN), userName());
    return guard;
}

StartupFacts systemStartupFacts() {
    StartupFacts facts;
    facts.echoSocket = systemEchoSocketKind();
    facts.privileged = posix::runningPrivileged();
    facts.helper = os::executableDirectory() / kFlushHelperName;
    facts.helperPresent = posix::executableFile(facts.helper);
    facts.helperCapable =
        facts.helperPresent && posix::hasFileCapability(facts.helper, CAP_NET_ADMIN);
    return facts;
}

} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "lab.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarnvik::netlab {

namespace {

// Starts argv with standard output and error on a new pipe; returns the pid and the read end.
std::pair<pid_t, int> spawnWithPipe(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // A group of its own, so that ending it also ends whatever it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
    return {pid, fds[0]};
}

int exitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads what `fd` carries until the child `pid` has ended and the pipe is at its end, and reaps
// it. Descendants may hold the pipe open long after the child has gone (Wine's session
// processes do until the session ends), so once the child has ended, a pipe quiet for a moment
// counts as ended too. At `deadline` the child's whole group is killed.
std::pair<std::string, int> readUntilEnded(int fd, pid_t pid,
                                           std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    constexpr auto quiet = 300ms;
    std::string out;
    bool atEnd = false;
    bool killed = false;
    std::optional<int> status;
    auto lastData = steady_clock::now();
    while (!(status && (atEnd || steady_clock::now() - lastData >= quiet))) {
        if (!atEnd) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, 50) > 0) {
                char chunk[4096];
                const ssize_t got = ::read(fd, chunk, sizeof chunk);
                if (got > 0) {
                    out.append(chunk, static_cast<std::size_t>(got));
                    lastData = steady_clock::now();
                } else if (got == 0 || errno != EINTR) {
                    atEnd = true;
                }
            }
        } else if (!status) {
            std::this_thread::sleep_for(10ms);
        }
        if (!status) {
            int raw = 0;
            if (::waitpid(pid, &raw, WNOHANG) == pid) {
                status = exitCode(raw);
                lastData = std::max(lastData, steady_clock::now());
            }
        }
        if (!status && !killed && steady_clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            killed = true;
            out += "\n[ended by the lab: still running at its deadline]\n";
        }
    }
    // Whatever of its group is still there has outlived it.
    ::kill(-pid, SIGKILL);
    return {out, *status};
}

std::string joined(const std::vector<std::string>& argv) {
    std::string text;
    for (const auto& arg : argv) {
        text += (text.empty() ? "" : " ") + arg;
    }
    return text;
}

} // namespace

CommandResult run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    const auto [pid, output] = spawnWithPipe(argv);
    CommandResult result;
    std::tie(result.output, result.exitCode) =
        readUntilEnded(output, pid, std::chrono::steady_clock::now() + timeout);
    ::close(output);
    return result;
}

std::string mustRun(const std::vector<std::string>& argv) {
    auto result = run(argv);
    if (result.exitCode != 0) {
        throw std::runtime_error(joined(argv) + " failed (" + std::to_string(result.exitCode) +
                                 "): " + result.output);
    }
    return result.output;
}

void deleteNamespace(const std::string& name) {
    // A process left inside would keep running, cut off, for as long as the machine does.
    run({"sh", "-c", "ip netns pids \"$0\" | xargs -r kill -9", name});
    run({"ip", "netns", "del", name});
    std::error_code ignored;
    std::filesystem::remove_all("/etc/netns/" + name, ignored);
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int countLines(const std::filesystem::path& file) {
    const std::string all = readFile(file);
    return static_cast<int>(std::count(all.begin(), all.end(), '\n'));
}

std::vector<std::string> openDescriptors(pid_t pid) {
    std::vector<std::string> targets;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        // One that closes while it is listed has no target left: it is not held open.
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error) {
            targets.push_back(target.string());
        }
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

int unreapedChildren(pid_t pid) {
    int zombies = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        const auto close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        char state = 0;
        int parent = 0;
        std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent);
        zombies += state == 'Z' && parent == pid;
    }
    return zombies;
}

std::string unavailableReason() {
    if (::geteuid() != 0) {
        return "the network lab needs root to create network namespaces";
    }
    if (::access("/usr/sbin/ip", X_OK) != 0 && ::access("/sbin/ip", X_OK) != 0) {
        return "the network lab needs iproute2 (ip)";
    }
    const std::string probe = "tvkprobe" + std::to_string(::getpid());
    if (run({"ip", "netns", "add", probe}).exitCode != 0) {
        return "this machine refuses to create network namespaces";
    }
    // Entering one also needs a mount namespace with a real root (not so in a plain chroot).
    const auto entered = run({"ip", "netns", "exec", probe, "true"});
    deleteNamespace(probe);
    if (entered.exitCode != 0) {
        return "network namespaces cannot be entered here: " + entered.output;
    }
    return {};
}

Process::Process(const std::vector<std::string>& argv) {
    std::tie(pid_, output_) = spawnWithPipe(argv);
}

Process::~Process() {
    stop();
}

std::string Process::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (output_ < 0 || left.count() <= 0) {
            return {};
        }
        pollfd ready{output_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char chunk[1024];
        const ssize_t got = ::read(output_, chunk, sizeof chunk);
        if (got <= 0) {
            return {};
        }
        pending_.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string Process::stop() {
    if (pid_ < 0) {
        return {};
    }
    ::kill(-pid_, SIGTERM);
    ::kill(pid_, SIGTERM);
    using namespace std::chrono_literals;
    std::string rest =
        pending_ + readUntilEnded(output_, pid_, std::chrono::steady_clock::now() + 10s).first;
    ::close(output_);
    output_ = -1;
    pid_ = -1;
    pending_.clear();
    return rest;
}

Namespaces::Namespaces(std::string tag) : prefix_("tvk" + std::to_string(::getpid()) + tag) {}

Namespaces::~Namespaces() {
    for (auto it = names_.rbegin(); it != names_.rend(); ++it) {
        deleteNamespace(*it);
    }
}

std::string Namespaces::add(const std::string& role) {
    const std::string name = prefix_ + "-" + role;
    deleteNamespace(name);
    mustRun({"ip", "netns", "add", name});
    names_.push_back(name);
    mustRun({"ip", "-n", name, "link", "set", "lo", "up"});
    return name;
}

void Namespaces::link(const std::string& a, const std::string& b, const std::string& device) {
    mustRun(
        {"ip", "-n", a, "link", "add", device, "type", "veth", "peer", "name", device, "netns", b});
    mustRun({"ip", "-n", a, "link", "set", device, "up"});
    mustRun({"ip", "-n", b, "link", "set", device, "up"});
}

std::vector<std::string> Namespaces::execArgv(const std::string& ns,
                                              const std::vector<std::string>& argv) const {
    std::vector<std::string> full{"ip", "netns", "exec", ns};
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

CommandResult Namespaces::exec(const std::string& ns, const std::vector<std::string>& argv) {
    return run(execArgv(ns, argv));
}

std::string Namespaces::mustExec(const std::string& ns, const std::vector<std::string>& argv) {
    return mustRun(execArgv(ns, argv));
}

void Namespaces::sysctl(const std::string& ns, const std::string& key, const std::string& value) {
    mustExec(ns, {"sysctl", "-q", "-w", key + "=" + value});
}

void Namespaces::writeEtcFile(const std::string& ns, const std::string& name,
                              const std::string& content) {
    const std::filesystem::path dir = "/etc/netns/" + ns;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / name, std::ios::trunc) << content;
}

} // namespace tarnvik::netlab

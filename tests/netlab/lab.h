// SPDX-License-Identifier: MIT
// The network lab for tests: private network namespaces joined by veth pairs, with no route out,
// always deleted again. Every packet a lab test sends stays inside namespaces made here.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarnvik::netlab {

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output and standard error together
};

// Runs a program (no shell) in a process group of its own and waits for it, at most `timeout`:
// then its group is killed. Processes it leaves behind are killed once it has ended.
CommandResult run(const std::vector<std::string>& argv,
                  std::chrono::milliseconds timeout = std::chrono::minutes(2));

// Runs a program and throws with its output when it fails.
std::string mustRun(const std::vector<std::string>& argv);

// Why the lab cannot be built here, or empty text when it can.
std::string unavailableReason();

// Deletes a namespace and /etc/netns/NAME, killing what still runs inside it first.
void deleteNamespace(const std::string& name);

// A program running in the background, in a process group of its own, with its standard output
// on a pipe. Stopping it, also by destruction, ends its group with SIGTERM (SIGKILL after 10 s)
// and reaps it.
class Process {
  public:
    explicit Process(const std::vector<std::string>& argv);
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    // One line of its output without the line end; empty text if none came in time.
    std::string readLine(std::chrono::milliseconds timeout);
    // Everything it printed until it ended by itself or was stopped.
    std::string stop();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
};

// Facts of a running process read from /proc: what its open descriptors refer to (sorted), and
// how many of its children ended without being reaped.
std::vector<std::string> openDescriptors(pid_t pid);

// A file the program wrote, whole (empty when there is none), and how many lines it holds.
std::string readFile(const std::filesystem::path& file);
int countLines(const std::filesystem::path& file);
int unreapedChildren(pid_t pid);

// A set of namespaces named after this process, deleted with the object.
class Namespaces {
  public:
    explicit Namespaces(std::string tag);
    Namespaces(const Namespaces&) = delete;
    Namespaces& operator=(const Namespaces&) = delete;
    ~Namespaces();

    // Creates the namespace `role` with its loopback up and returns its full name.
    std::string add(const std::string& role);

    // Joins two namespaces with a veth pair named `device` on both sides.
    void link(const std::string& a, const std::string& b, const std::string& device = "eth0");

    // Runs a program inside a namespace (with its own hosts file and resolv.conf, if written).
    CommandResult exec(const std::string& ns, const std::vector<std::string>& argv);
    std::string mustExec(const std::string& ns, const std::vector<std::string>& argv);
    std::vector<std::string> execArgv(const std::string& ns,
                                      const std::vector<std::string>& argv) const;

    void sysctl(const std::string& ns, const std::string& key, const std::string& value);

    // Writes /etc/netns/NS/NAME, which `ip netns exec` shows as /etc/NAME.
    void writeEtcFile(const std::string& ns, const std::string& name, const std::string& content);

  private:
    std::string prefix_;
    std::vector<std::string> names_;
};

} // namespace tarnvik::netlab

// SPDX-License-Identifier: MIT
// Helpers for the window's tests: a private temporary directory, a repair whose command only
// leaves a mark, waiting for a condition, and making a file read-only for root as well.
#pragma once

#include "repair.h"
#include "system_posix.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnvik::testing {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnvik-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

inline int countLines(const std::filesystem::path& path) {
    const std::string all = readFile(path);
    return static_cast<int>(std::count(all.begin(), all.end(), '\n'));
}

// Runs the event loop until `done` holds or `limit` passes; returns whether it holds.
template <typename Condition> bool waitUntil(Condition done, int limitMs = 5000) {
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ::usleep(5000);
    }
    return true;
}

// A repair that logs into `dir` at a fixed time under the C locale, whose command appends one
// line to `marks` in `dir`, and whose reports are collected.
struct RecordingRepair {
    explicit RecordingRepair(const std::filesystem::path& dir)
        : logPath(dir / "arp_log.log"), marks(dir / "command-started") {}

    RepairSettings settings() {
        return RepairSettings{
            logPath.parent_path(),
            {"/bin/sh", "-c", "echo started >> \"$0\"", marks.string()},
            [] { return std::string("2026/12/7 9:05:03"); },
            [this](const std::string& line) { reports.push_back(line); },
            false,
            false,
            std::nullopt,
            nullptr,
            std::nullopt,
            [this](SystemRecord kind, const std::string& text) {
                records.emplace_back(kind, text);
            },
        };
    }

    int commandsStarted() const { return countLines(marks); }
    int logLines() const { return countLines(logPath); }

    std::filesystem::path logPath;
    std::filesystem::path marks;
    std::vector<std::string> reports;
    std::vector<std::pair<SystemRecord, std::string>> records;
};

// Why mounts made by this test process would reach the machine's own, or empty text when the
// process has a private mount namespace (main() takes one as root and fills this in).
std::string& mountNamespaceProblem();

// Mounts for one scope in the test process's private mount namespace; mounts nothing where that
// namespace is not private, so that nothing a test mounts can reach the machine.
class ScopedMount {
  public:
    ScopedMount(const char* source, std::filesystem::path target, const char* type,
                unsigned long flags, const char* data = nullptr)
        : target_(std::move(target)) {
        mounted_ = ::geteuid() == 0 && mountNamespaceProblem().empty() &&
                   ::mount(source, target_.c_str(), type, flags, data) == 0;
    }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    ~ScopedMount() {
        if (mounted_) {
            ::umount2(target_.c_str(), MNT_DETACH);
        }
    }
    bool mounted() const { return mounted_; }

  private:
    std::filesystem::path target_;
    bool mounted_ = false;
};

// Why a test that mounts cannot run here, or empty text.
inline std::string mountsUnavailable() {
    if (::geteuid() != 0) {
        return "mounting needs root";
    }
    return mountNamespaceProblem();
}

// Makes an existing file read-only in a way root obeys: a read-only bind mount of it. Without
// root, the file mode does it.
class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(std::filesystem::path path) : path_(std::move(path)) {
        if (::geteuid() == 0) {
            bind_.emplace(path_.c_str(), path_, nullptr, MS_BIND);
            readOnly_ = bind_->mounted() && ::mount(nullptr, path_.c_str(), nullptr,
                                                    MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        } else {
            readOnly_ = ::chmod(path_.c_str(), 0444) == 0;
        }
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile() {
        bind_.reset();
        ::chmod(path_.c_str(), 0644);
    }
    bool readOnly() const { return readOnly_; }

  private:
    std::filesystem::path path_;
    std::optional<ScopedMount> bind_;
    bool readOnly_ = false;
};

// Skips a test that makes files read-only where root could do so only on the machine's mounts.
#define SKIP_UNLESS_FILES_CAN_BE_LOCKED()                                                          \
    if (::geteuid() == 0 && !::tarnvik::testing::mountNamespaceProblem().empty())                  \
    GTEST_SKIP() << ::tarnvik::testing::mountNamespaceProblem()

} // namespace tarnvik::testing

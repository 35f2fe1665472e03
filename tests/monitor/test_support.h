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
            [] {
                return generalDateTime(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)), QLocale::c());
            },
            [this](const std::string& line) { reports.push_back(line); },
        };
    }

    int commandsStarted() const { return countLines(marks); }
    int logLines() const { return countLines(logPath); }

    std::filesystem::path logPath;
    std::filesystem::path marks;
    std::vector<std::string> reports;
};

// Makes an existing file read-only in a way root obeys: a read-only bind mount of it, in the
// test process's private mount namespace. Without root, the file mode does it.
class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(std::filesystem::path path) : path_(std::move(path)) {
        if (::geteuid() == 0) {
            mounted_ = ::mount(path_.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                       ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                               nullptr) == 0;
        } else {
            ::chmod(path_.c_str(), 0444);
        }
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile() {
        if (mounted_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
        ::chmod(path_.c_str(), 0644);
    }

  private:
    std::filesystem::path path_;
    bool mounted_ = false;
};

} // namespace tarnvik::testing

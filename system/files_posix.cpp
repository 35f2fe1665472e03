// SPDX-License-Identifier: MIT
// The program's own files: the logs appended in one write, small records replaced whole, never
// through a symbolic link; private directories.
#include "system.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvik::os {

std::filesystem::path executableDirectory() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path{} : self.parent_path();
}

namespace {

// Writes all of `bytes` and closes `fd`; a write the disk refused part-way is cut off again
// with `undoPartial`, so that a log only ever holds whole lines.
int writeAll(int fd, std::string_view bytes, bool undoPartial) {
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

// Opens `path` for writing with `mode` (O_APPEND or O_TRUNC), never through a symbolic link:
// planted where others may write, it would send a privileged program's bytes into any file.
// Returns 0 or the error that stopped it.
int writeFile(const std::filesystem::path& path, int mode, std::string_view bytes, bool ownerOnly,
              bool undoPartial) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | mode,
                          ownerOnly ? 0600 : 0644);
    if (fd < 0) {
        return errno;
    }
    return writeAll(fd, bytes, undoPartial);
}

} // namespace

// O_APPEND puts the one write at the end of the file, whichever copy of the program wrote last.
int appendInOneWrite(const std::filesystem::path& path, std::string_view bytes, bool ownerOnly) {
    return writeFile(path, O_APPEND, bytes, ownerOnly, true);
}

int appendRotated(const std::filesystem::path& path, std::string_view bytes, std::uintmax_t limit,
                  bool ownerOnly) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                              ownerOnly ? 0600 : 0644);
        if (fd < 0) {
            return errno;
        }
        // The lock is the file's: a copy that waited for it while another rotated finds the
        // name moved on, and opens the new file.
        struct stat opened {};
        struct stat named {};
        if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &opened) != 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        const bool current = ::lstat(path.c_str(), &named) == 0 && named.st_ino == opened.st_ino &&
                             named.st_dev == opened.st_dev;
        if (current && (opened.st_size == 0 ||
                        static_cast<std::uintmax_t>(opened.st_size) + bytes.size() <= limit)) {
            return writeAll(fd, bytes, true);
        }
        if (current) {
            auto previous = path;
            previous += ".1";
            if (::rename(path.c_str(), previous.c_str()) != 0) {
                return writeAll(fd, bytes, true); // kept, in a file that grows on
            }
        }
        ::close(fd);
    }
    return EAGAIN;
}

namespace {

// A directory descriptor of our own, closed when it goes.
class Directory {
  public:
    explicit Directory(int fd) : fd_(fd) {}
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    ~Directory() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    void reset(int fd) {
        this->~Directory();
        fd_ = fd;
    }

  private:
    int fd_;
};

} // namespace

// Walked one directory at a time from the root, each opened relative to the one before and never
// through a link, so that nobody can swap a part of the path for a link between a check and the
// use (as root, a link planted in a user's directory would send our files anywhere). A link that
// root owns is the system's own layout (/var/run) and is followed; the directory itself never.
int createPrivateDirectories(const std::filesystem::path& directory) {
    if (!directory.is_absolute()) {
        return EINVAL;
    }
    Directory at(::open("/", O_DIRECTORY | O_RDONLY | O_CLOEXEC));
    if (at.get() < 0) {
        return errno;
    }
    const auto last = std::prev(directory.end());
    for (auto part = std::next(directory.begin()); part != directory.end(); ++part) {
        const char* name = part->c_str();
        if (part->empty()) {
            continue;
        }
        if (::mkdirat(at.get(), name, 0700) != 0 && errno != EEXIST) {
            return errno;
        }
        int next = ::openat(at.get(), name, O_DIRECTORY | O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        struct stat link {};
        if (next < 0 && (errno == ELOOP || errno == ENOTDIR) && part != last &&
            ::fstatat(at.get(), name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode) &&
            link.st_uid == 0) {
            next = ::openat(at.get(), name, O_DIRECTORY | O_RDONLY | O_CLOEXEC);
        }
        if (next < 0) {
            return errno == ENOTDIR ? ELOOP : errno;
        }
        at.reset(next);
    }
    // Ours: owned by this user, and nobody else may put anything in it.
    struct stat own {};
    if (::fstat(at.get(), &own) != 0) {
        return errno;
    }
    return own.st_uid != ::geteuid() || (own.st_mode & 022) != 0 ? EPERM : 0;
}

bool writableDirectory(const std::filesystem::path& directory) {
    return !directory.empty() && ::access(directory.c_str(), W_OK | X_OK) == 0;
}

std::filesystem::path runtimeDirectory() {
    // Root's own place: an environment handed on by sudo -E or su names the user's directory,
    // which the user could have laid links in.
    if (::geteuid() == 0) {
        return "/run/tarnvik";
    }
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

} // namespace tarnvik::os

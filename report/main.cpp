// SPDX-License-Identifier: MIT
// tarnvik-report: the attacks across a LAN's desks, from the records a collector gathered.
#include "report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

constexpr const char* kUsage =
    "Usage: tarnvik-report [--json | --csv] [--since TIME] [--now TIME] [--follow] [FILE...]\n"
    "\n"
    "Reads evidence records (arp_evidence.jsonl, or a collector's file of every desk's) from\n"
    "each FILE, or standard input without one or for '-', and prints the attacks across desks:\n"
    "one row per attacker's link-layer address, then moves and unanswered targets by desk.\n"
    "A line that is no record is counted and skipped. TIME is RFC 3339 (2026-12-08T10:00:00Z).\n"
    "\n"
    "  --json, --csv  for machines instead of people\n"
    "  --since TIME   leave out records before TIME\n"
    "  --now TIME     a campaign is still going with a record within the minute before TIME\n"
    "                 (default: the clock's now)\n"
    "  --follow       keep reading what is appended, and print the rows again as it comes\n";

// A file read as it grows: what was appended since, whole lines only; a file replaced by
// rotation is read from its start.
class Follower {
  public:
    // `follow`: what standard input holds so far is handed on at once, not read to its end.
    Follower(std::string path, bool follow) : path_(std::move(path)), follow_(follow) {}

    template <typename Line> bool poll(Line&& line) {
        struct stat now {};
        if (path_ != "-" && ::stat(path_.c_str(), &now) == 0 &&
            (!in_.is_open() || now.st_ino != inode_ || now.st_size < offset_)) {
            in_.close();
            in_.clear();
            in_.open(path_, std::ios::binary);
            inode_ = now.st_ino;
            offset_ = 0;
            pending_.clear();
        }
        bool any = false;
        char chunk[1 << 16];
        for (;;) {
            // Standard input gives what has come (a pipe's lines as they are written), a file
            // what it holds.
            std::streamsize got = 0;
            if (path_ == "-") {
                got = ::read(STDIN_FILENO, chunk, sizeof chunk);
                ended_ = got == 0;
            } else {
                in_.read(chunk, sizeof chunk);
                got = in_.gcount();
            }
            if (got <= 0) {
                break;
            }
            offset_ += got;
            pending_.append(chunk, static_cast<std::size_t>(got));
            std::size_t from = 0;
            for (auto end = pending_.find('\n'); end != std::string::npos;
                 end = pending_.find('\n', from)) {
                line(std::string_view(pending_).substr(from, end - from));
                from = end + 1;
                any = true;
            }
            pending_.erase(0, from);
            if (path_ == "-" && follow_ && any) {
                break; // a terminal's or a pipe's lines are shown as they come
            }
        }
        in_.clear();
        return any;
    }

    // The last line, when the file does not end with a line end.
    template <typename Line> void finish(Line&& line) {
        if (!pending_.empty()) {
            line(pending_);
            pending_.clear();
        }
    }

    bool readable() const { return path_ == "-" || in_.is_open(); }
    // Standard input has reached its end.
    bool ended() const { return ended_; }

  private:
    std::string path_;
    bool follow_;
    std::ifstream in_;
    ino_t inode_ = 0;
    std::streamoff offset_ = 0;
    std::string pending_;
    bool ended_ = false;
};

tarnvik::report::Seconds clockNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char** argv) {
    using namespace tarnvik::report;
    enum class Form { table, json, csv } form = Form::table;
    std::optional<Seconds> since, now;
    bool follow = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto timeAfter = [&](std::optional<Seconds>& into) {
            if (i + 1 >= argc || !(into = parseTime(argv[i + 1]))) {
                std::fprintf(stderr, "tarnvik-report: %s needs an RFC 3339 time\n%s",
                             argument.c_str(), kUsage);
                return false;
            }
            ++i;
            return true;
        };
        if (argument == "--json") {
            form = Form::json;
        } else if (argument == "--csv") {
            form = Form::csv;
        } else if (argument == "--follow") {
            follow = true;
        } else if (argument == "--since" || argument == "--now") {
            if (!timeAfter(argument == "--since" ? since : now)) {
                return 2;
            }
        } else if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (argument == "--version") {
            std::puts("tarnvik-report " TARNVIK_VERSION);
            return 0;
        } else if (argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "tarnvik-report: unknown argument %s\n%s", argument.c_str(),
                         kUsage);
            return 2;
        } else {
            files.push_back(argument);
        }
    }
    if (files.empty()) {
        files.push_back("-");
    }
    Report report(since);
    std::vector<Follower> followers;
    for (const auto& file : files) {
        followers.emplace_back(file, follow);
    }
    int status = 0;
    const auto add = [&](std::string_view line) { report.add(line); };
    for (std::size_t i = 0; i < followers.size(); ++i) {
        followers[i].poll(add);
        if (!followers[i].readable()) {
            std::fprintf(stderr, "tarnvik-report: cannot read %s: %s\n", files[i].c_str(),
                         std::strerror(errno));
            status = 1;
        }
        if (!follow) {
            followers[i].finish(add);
        }
    }
    const auto print = [&] {
        const Seconds at = now.value_or(clockNow());
        const std::string text = form == Form::json  ? json(report, at)
                                 : form == Form::csv ? csv(report, at)
                                                     : table(report, at);
        // On a terminal the rows are redrawn in place.
        const bool redraw = follow && form == Form::table && ::isatty(STDOUT_FILENO);
        std::fputs(((redraw ? "\x1b[H\x1b[2J" : "") + text).c_str(), stdout);
        std::fflush(stdout);
    };
    print();
    while (follow) {
        bool any = false;
        for (auto& follower : followers) {
            any = follower.poll(add) || any;
        }
        if (any) {
            print();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            if (files == std::vector<std::string>{"-"} && followers[0].ended()) {
                break;
            }
        }
    }
    return status;
}

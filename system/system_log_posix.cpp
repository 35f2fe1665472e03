// SPDX-License-Identifier: MIT
// The system's own log (the journal, else syslog), reports on standard error, and the text of
// what the system says: errors, the log's code page, the time.
#include "diagnostics.h"
#include "system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iconv.h>
#include <iostream>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

namespace tarnvik::os {

namespace {

// One converter for each thread, opened once: opening loads the code page's tables, which cost
// more than the attack line's whole write.
class GbkConverter {
  public:
    GbkConverter() : converter_(::iconv_open("GBK", "UTF-8")) {}
    GbkConverter(const GbkConverter&) = delete;
    GbkConverter& operator=(const GbkConverter&) = delete;
    ~GbkConverter() {
        if (usable()) {
            ::iconv_close(converter_);
        }
    }
    bool usable() const { return converter_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const {
        ::iconv(converter_, nullptr, nullptr, nullptr, nullptr); // its initial state
        return converter_;
    }

  private:
    iconv_t converter_;
};

} // namespace

std::string toGbk(std::string_view utf8) {
    thread_local const GbkConverter gbk;
    if (!gbk.usable()) {
        return std::string(utf8);
    }
    const iconv_t converter = gbk.get();
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
    return out;
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

std::string hostName() {
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

std::string userName() {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    return ::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found
               ? found->pw_name
               : std::to_string(::geteuid());
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
    const int priority = verdictKind == Verdict::changed || verdictKind == Verdict::newRouter ||
                                 verdictKind == Verdict::routerFlood
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

} // namespace tarnvik::os

// The repair after a failed probe: one time-stamped line in the attack log, then the command
// that flushes the ARP cache, started and not awaited.
#pragma once

#include <QDateTime>
#include <QLocale>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarnvik {

// What the repair takes from its surroundings; tests replace every part.
struct RepairSettings {
    std::filesystem::path logDirectory;
    std::vector<std::string> command;
    std::function<QDateTime()> clock;
    QLocale locale;
    // Receives one line for each failure of a repair.
    std::function<void(const std::string&)> report;
    // Started with our own minimal environment, never through the user's PATH.
    bool privileged = false;
    // The log directory is ours to create when it is missing.
    bool createLogDirectory = false;
};

inline constexpr const char* kFlushHelperName = "tarnvik-flush";

// The attack log's directory: the program's own where its user may write, as always; otherwise
// (an installed program) $XDG_STATE_HOME/tarnvik, or ~/.local/state/tarnvik without it.
std::filesystem::path attackLogDirectory(const std::filesystem::path& programDirectory,
                                         bool programDirectoryWritable,
                                         const std::string& xdgStateHome, const std::string& home);

// The helper beside the program by its absolute path, or "ip -4 neigh flush all" without it.
std::vector<std::string> flushCommand(const std::filesystem::path& programDirectory,
                                      bool helperPresent);

// This machine's settings: log directory and flush command as above, the local clock, the user's
// locale, reports on standard error. Says once on standard error where the log goes when it is
// not beside the program.
RepairSettings systemRepairSettings();

inline constexpr const char* kAttackLogName = "arp_log.log";
inline constexpr const char* kAttackLabel = "发生arp攻击的时间：";

// The local date and time in the locale's general form: short date, a blank, long time without
// time zone; a time of exactly 00:00:00 is left out. The C and POSIX locales take the Chinese
// (PRC) forms yyyy/M/d and H:mm:ss. UTF-8.
std::string generalDateTime(const QDateTime& local, const QLocale& locale);

// One line of the attack log as stored: label, date and time, CR LF, in GBK.
std::string attackLogLine(const QDateTime& local, const QLocale& locale);

class RepairAction {
  public:
    explicit RepairAction(RepairSettings settings);

    // Appends the line and then starts the command. A log that cannot be written means no line
    // and no command; a command that cannot start leaves its line written. Either failure is
    // reported and returns false; nothing is thrown.
    bool run();

    std::filesystem::path logPath() const { return settings_.logDirectory / kAttackLogName; }

  private:
    RepairSettings settings_;
};

} // namespace tarnvik

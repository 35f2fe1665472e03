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
};

// The running program's directory, "ip -4 neigh flush all", the local clock, the user's locale,
// and reports on standard error.
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

#include "repair.h"
#include "diagnostics.h"
#include "system_posix.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace tarnvik {

namespace {

// Qt's long time forms carry the time zone ("t"); the general form has none.
QString withoutTimeZone(const QString& format) {
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'') {
            quoted = !quoted;
        }
        if (!quoted && c == u't') {
            continue;
        }
        out += c;
    }
    return out.simplified();
}

std::string joined(const std::vector<std::string>& argv) {
    std::string text;
    for (const auto& arg : argv) {
        text += (text.empty() ? "" : " ") + arg;
    }
    return text;
}

} // namespace

std::filesystem::path attackLogDirectory(const std::filesystem::path& programDirectory,
                                         bool programDirectoryWritable,
                                         const std::string& xdgStateHome, const std::string& home) {
    if (programDirectoryWritable) {
        return programDirectory;
    }
    // The XDG base directory rules ignore a relative path.
    const std::filesystem::path state = !xdgStateHome.empty() && xdgStateHome.front() == '/'
                                            ? std::filesystem::path(xdgStateHome)
                                            : std::filesystem::path(home) / ".local" / "state";
    return state / "tarnvik";
}

std::vector<std::string> flushCommand(const std::filesystem::path& programDirectory,
                                      bool helperPresent) {
    if (helperPresent) {
        return {(programDirectory / kFlushHelperName).string()};
    }
    return {"ip", "-4", "neigh", "flush", "all"};
}

RepairSettings systemRepairSettings() {
    const auto programDirectory = posix::executableDirectory();
    const bool writable = posix::writableDirectory(programDirectory);
    auto environment = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    };
    const auto logDirectory = attackLogDirectory(
        programDirectory, writable, environment("XDG_STATE_HOME"), environment("HOME"));
    // Reports quote paths and typed names; no control character of theirs reaches a terminal.
    auto report = [](const std::string& line) {
        std::cerr << "tarnvik: " << printableExcerpt(line, 4096) << std::endl;
    };
    if (!writable) {
        report("cannot write to " + programDirectory.string() + "; the attack log is " +
               (logDirectory / kAttackLogName).string());
    }
    return RepairSettings{
        logDirectory,
        flushCommand(programDirectory, posix::executableFile(programDirectory / kFlushHelperName)),
        [] { return QDateTime::currentDateTime(); },
        QLocale::system(),
        report,
        posix::runningPrivileged(),
        !writable,
    };
}

std::string generalDateTime(const QDateTime& local, const QLocale& locale) {
    const bool plain = locale.language() == QLocale::C;
    const QLocale formatter = plain ? QLocale(QLocale::Chinese, QLocale::China) : locale;
    const QString dateForm = plain ? "yyyy/M/d" : locale.dateFormat(QLocale::ShortFormat);
    const QString timeForm =
        plain ? "H:mm:ss" : withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
    const QTime time = local.time();
    QString text = formatter.toString(local.date(), dateForm);
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
        text += QStringLiteral(" ") + formatter.toString(time, timeForm);
    }
    return text.toStdString();
}

std::string attackLogLine(const QDateTime& local, const QLocale& locale) {
    return posix::toGbk(std::string(kAttackLabel) + generalDateTime(local, locale) + "\r\n");
}

RepairAction::RepairAction(RepairSettings settings) : settings_(std::move(settings)) {}

bool RepairAction::run() {
    const auto path = logPath();
    if (settings_.createLogDirectory) {
        std::error_code ignored; // a failure shows as the append's own
        std::filesystem::create_directories(settings_.logDirectory, ignored);
    }
    if (const int error =
            posix::appendInOneWrite(path, attackLogLine(settings_.clock(), settings_.locale))) {
        settings_.report("cannot append to " + path.string() + ": " + std::strerror(error));
        return false;
    }
    if (const int error = posix::startDetached(settings_.command, settings_.privileged)) {
        settings_.report("cannot start " + joined(settings_.command) + ": " + std::strerror(error));
        return false;
    }
    return true;
}

} // namespace tarnvik

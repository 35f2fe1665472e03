// SPDX-License-Identifier: MIT
#include "repair.h"
#include "system.h"

namespace tarnvik {

namespace {

std::string joined(const std::vector<std::string>& argv) {
    std::string text;
    for (const auto& arg : argv) {
        text += (text.empty() ? "" : " ") + arg;
    }
    return text;
}

} // namespace

std::string attackLogLine(const std::string& dateTime) {
    return os::toGbk(std::string(kAttackLabel) + dateTime + "\r\n");
}

RepairAction::RepairAction(RepairSettings settings) : settings_(std::move(settings)) {}

void RepairAction::report(const std::string& line) const {
    if (settings_.report) {
        settings_.report(line);
    }
}

bool RepairAction::run() {
    const auto path = logPath();
    if (settings_.createLogDirectory) {
        std::error_code ignored; // a failure shows as the append's own
        std::filesystem::create_directories(settings_.logDirectory, ignored);
    }
    if (const int error = os::appendInOneWrite(path, attackLogLine(settings_.dateTime()))) {
        report("cannot append to " + os::pathText(path) + ": " + os::errorText(error));
        return false;
    }
    if (const int error = os::startDetached(settings_.command, settings_.privileged)) {
        report("cannot start " + joined(settings_.command) + ": " + os::errorText(error));
        return false;
    }
    return true;
}

} // namespace tarnvik

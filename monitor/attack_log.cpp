// SPDX-License-Identifier: MIT
#include "attack_log.h"
#include "system.h"

#include <algorithm>
#include <cstdio>

namespace tarnvik {

std::string attackLogLine(const std::string& dateTime) {
    return os::toGbk(std::string(kAttackLabel) + dateTime + "\r\n");
}

std::string gbkSafeDateTime(const std::string& localized, const CalendarTime& time) {
    const auto marks = [](const std::string& text) {
        return std::count(text.begin(), text.end(), '?');
    };
    if (marks(os::toGbk(localized)) == marks(localized)) {
        return localized;
    }
    char iso[64] = {};
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day,
                  time.hour, time.minute, time.second);
    return iso;
}

} // namespace tarnvik

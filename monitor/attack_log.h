// SPDX-License-Identifier: MIT
// The attack log's line as it is stored, the same on every operating system.
#pragma once

#include <string>

namespace tarnvik {

inline constexpr const char* kAttackLogName = "arp_log.log";
inline constexpr const char* kAttackLabel = "发生arp攻击的时间：";

// One line of the attack log as stored: label, date and time, CR LF, in GBK.
std::string attackLogLine(const std::string& dateTime);

// A moment of the Gregorian calendar, local time.
struct CalendarTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The locale's date-and-time text where GBK holds every character of it; otherwise (Arabic-Indic
// digits, another calendar's month names) the same moment as 2026-12-07 09:05:03, so that the log
// never holds '?' in place of a digit.
std::string gbkSafeDateTime(const std::string& localized, const CalendarTime& time);

} // namespace tarnvik

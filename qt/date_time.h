// SPDX-License-Identifier: MIT
// The local date and time in the general form of a locale, from Qt's locale data: what the Linux
// edition hands the repair for its attack-log lines.
#pragma once

#include <QDateTime>
#include <QLocale>

#include <string>

namespace tarnvik::qt {

// Short date, a blank, long time without time zone; a time of exactly 00:00:00 is left out. The
// C and POSIX locales take the Chinese (PRC) forms yyyy/M/d and H:mm:ss. Where the attack log's
// GBK cannot hold the text, the ISO form with ASCII digits. UTF-8.
std::string generalDateTime(const QDateTime& local, const QLocale& locale);

// Now, in the general form of the user's locale.
std::string currentDateTime();

} // namespace tarnvik::qt

// SPDX-License-Identifier: MIT
#include "date_time.h"
#include "repair.h"

namespace tarnvik::qt {

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

} // namespace

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
    const QDate date = local.date();
    return gbkSafeDateTime(text.toStdString(), {date.year(), date.month(), date.day(), time.hour(),
                                                time.minute(), time.second()});
}

std::string currentDateTime() {
    return generalDateTime(QDateTime::currentDateTime(), QLocale::system());
}

} // namespace tarnvik::qt

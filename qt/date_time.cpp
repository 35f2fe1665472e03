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

// A locale's forms, looked up once: an attack's line is timed from the forged frame.
struct GeneralForms {
    explicit GeneralForms(const QLocale& locale)
        : formatter(locale.language() == QLocale::C ? QLocale(QLocale::Chinese, QLocale::China)
                                                    : locale),
          date(locale.language() == QLocale::C ? "yyyy/M/d"
                                               : locale.dateFormat(QLocale::ShortFormat)),
          time(locale.language() == QLocale::C
                   ? "H:mm:ss"
                   : withoutTimeZone(locale.timeFormat(QLocale::LongFormat))) {}

    std::string format(const QDateTime& local) const {
        const QTime clock = local.time();
        QString text = formatter.toString(local.date(), date);
        if (clock.hour() != 0 || clock.minute() != 0 || clock.second() != 0) {
            text += QStringLiteral(" ") + formatter.toString(clock, time);
        }
        const QDate day = local.date();
        return gbkSafeDateTime(text.toStdString(), {day.year(), day.month(), day.day(),
                                                    clock.hour(), clock.minute(), clock.second()});
    }

    QLocale formatter;
    QString date, time;
};

} // namespace

std::string generalDateTime(const QDateTime& local, const QLocale& locale) {
    return GeneralForms(locale).format(local);
}

std::string currentDateTime() {
    static const GeneralForms forms(QLocale::system());
    return forms.format(QDateTime::currentDateTime());
}

} // namespace tarnvik::qt

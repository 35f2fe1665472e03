// SPDX-License-Identifier: MIT
#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

// The translations are built into this static library: its resources need a call to be kept.
static void loadTranslationResources() {
    Q_INIT_RESOURCE(i18n);
}

namespace tarnvik::qt {

bool speaksChinese(const QLocale& locale) {
    for (const QString& language : locale.uiLanguages()) {
        if (language.startsWith("zh")) {
            return true;
        }
        if (language.startsWith("en") || language == "C") {
            return false;
        }
    }
    return false;
}

void installTranslations() {
    loadTranslationResources();
    if (!speaksChinese(QLocale::system())) {
        return;
    }
    // Owned by the application: installed translators must live as long as it does.
    auto* own = new QTranslator(QCoreApplication::instance());
    if (own->load(":/i18n/tarnvik_zh_CN.qm")) {
        QCoreApplication::installTranslator(own);
    }
    auto* toolkit = new QTranslator(QCoreApplication::instance());
    const QLocale chinese = QLocale::system().language() == QLocale::Chinese
                                ? QLocale::system()
                                : QLocale(QLocale::Chinese, QLocale::China);
    if (toolkit->load(chinese, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(toolkit);
    }
}

Translator qtTranslator() {
    return [](const char* english) {
        return QCoreApplication::translate("Tarnvik", english).toStdString();
    };
}

} // namespace tarnvik::qt

// SPDX-License-Identifier: MIT
// The desktop's language for the window: Chinese where the user's first language of the two the
// program has is Chinese (any zh locale), English otherwise. Qt's own texts (the text boxes'
// context menu) follow in the same language where Qt's translations are installed.
#pragma once

#include "texts.h"

#include <QLocale>

namespace tarnvik::qt {

// Whether the window speaks Chinese for `locale` (its user-interface languages in order).
bool speaksChinese(const QLocale& locale);
// Installs the translations the system locale asks for; call once the application exists.
void installTranslations();
// The window's texts through the installed translations.
Translator qtTranslator();

} // namespace tarnvik::qt

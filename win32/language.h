// SPDX-License-Identifier: MIT
// The desktop's language for the window: Chinese where the user's interface language is Chinese,
// English otherwise. The texts come from the program's string tables, one for each language.
#pragma once

#include "texts.h"

#include <windows.h>

namespace tarnvik::win32 {

// The window's texts in `language` (the user's interface language unless given), from the string
// tables built into the program.
Translator stringTableTranslator(LANGID language = ::GetUserDefaultUILanguage());

// The number of texts the string tables hold, and the n-th in `language`, for tests.
int stringTableSize();
std::string stringTableText(int n, LANGID language);

} // namespace tarnvik::win32

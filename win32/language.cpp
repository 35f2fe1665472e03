// SPDX-License-Identifier: MIT
#include "language.h"
#include "system_win32.h"

#include <map>
#include <memory>

namespace tarnvik::win32 {

namespace {

// ID of the count; the texts follow it, from kFirstText on.
constexpr UINT kCountId = 999;
constexpr UINT kFirstText = 1000;
const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// A string table holds its strings in blocks of 16, each a length and that many UTF-16 units;
// LoadString cannot choose the language, so the block is read directly.
std::wstring loadString(UINT id, LANGID language) {
    const HMODULE module = ::GetModuleHandleW(nullptr);
    const HRSRC found =
        ::FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1), language);
    if (found == nullptr) {
        return {};
    }
    const HGLOBAL loaded = ::LoadResource(module, found);
    const auto* at = static_cast<const WCHAR*>(::LockResource(loaded));
    if (at == nullptr) {
        return {};
    }
    const WCHAR* end = at + ::SizeofResource(module, found) / sizeof(WCHAR);
    for (UINT index = 0; index < id % 16 && at < end; ++index) {
        at += 1 + *at;
    }
    if (at >= end || at + 1 + *at > end) {
        return {};
    }
    return std::wstring(at + 1, *at);
}

} // namespace

int stringTableSize() {
    return _wtoi(loadString(kCountId, kEnglish).c_str());
}

std::string stringTableText(int n, LANGID language) {
    return narrow(loadString(kFirstText + static_cast<UINT>(n), language));
}

Translator stringTableTranslator(LANGID language) {
    if (PRIMARYLANGID(language) != LANG_CHINESE) {
        return nullptr;
    }
    auto chinese = std::make_shared<std::map<std::string, std::string>>();
    for (int n = 0; n < stringTableSize(); ++n) {
        (*chinese)[stringTableText(n, kEnglish)] = stringTableText(n, kChinese);
    }
    return [chinese](const char* english) {
        const auto found = chinese->find(english);
        return found == chinese->end() || found->second.empty() ? std::string(english)
                                                                : found->second;
    };
}

} // namespace tarnvik::win32

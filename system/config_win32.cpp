// SPDX-License-Identifier: MIT
#include "system.h"
#include "system_win32.h"

#include <windows.h>

namespace tarnvik::os {

namespace {

// Our values of one key: text as it stands, a number as its digits.
ConfigLayer readKey(HKEY root, const wchar_t* path, std::string origin, bool policy) {
    ConfigLayer layer{std::move(origin), {}, {}, policy, {}};
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return layer;
    }
    for (std::size_t index = 0; index < kConfigKeys; ++index) {
        const auto wide = win32::widen(kConfigurationKeys[index]);
        wchar_t text[1024];
        DWORD size = sizeof text;
        DWORD number = 0;
        DWORD numberSize = sizeof number;
        if (::RegGetValueW(key, nullptr, wide.c_str(), RRF_RT_REG_SZ, nullptr, text, &size) ==
            ERROR_SUCCESS) {
            layer.values[index] = win32::narrow(text);
        } else if (::RegGetValueW(key, nullptr, wide.c_str(), RRF_RT_REG_DWORD, nullptr, &number,
                                  &numberSize) == ERROR_SUCCESS) {
            layer.values[index] = std::to_string(number);
        } else {
            continue;
        }
        // A policy is the administrator's word: none of its values may be changed by the user.
        if (policy) {
            layer.locked[index] = true;
        }
    }
    ::RegCloseKey(key);
    return layer;
}

} // namespace

std::vector<ConfigLayer> configurationLayers() {
    return {readKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Tarnvik",
                    "HKLM\\SOFTWARE\\Policies\\Tarnvik", true),
            readKey(HKEY_CURRENT_USER, L"SOFTWARE\\Tarnvik", "HKCU\\SOFTWARE\\Tarnvik", false)};
}

} // namespace tarnvik::os

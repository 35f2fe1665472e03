// SPDX-License-Identifier: MIT
#include "arguments.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace tarnvik {

std::optional<int> interfaceIndex(std::string_view text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos ||
        text[0] == '0') {
        return std::nullopt;
    }
    return std::atoi(std::string(text).c_str());
}

std::optional<std::array<std::uint8_t, 4>> unicastIpv4(const char* text) {
    in_addr address{};
    if (::inet_pton(AF_INET, text, &address) != 1) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &address, 4);
    if (bytes[0] == 0 || bytes[0] == 127 || bytes[0] >= 224) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::array<std::uint8_t, 16>> linkLocalIpv6(const char* text) {
    std::array<std::uint8_t, 16> bytes{};
    if (::inet_pton(AF_INET6, text, bytes.data()) != 1 || bytes[0] != 0xfe ||
        (bytes[1] & 0xc0) != 0x80) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::array<std::uint8_t, 6>> unicastLinkAddress(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 6> bytes{};
    for (std::size_t i = 0; i < 6; ++i) {
        const auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9') {
                return c - '0';
            }
            if (c >= 'a' && c <= 'f') {
                return c - 'a' + 10;
            }
            if (c >= 'A' && c <= 'F') {
                return c - 'A' + 10;
            }
            return -1;
        };
        const int high = hex(text[3 * i]);
        const int low = hex(text[3 * i + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[3 * i + 2] != ':')) {
            return std::nullopt;
        }
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    const bool zero = bytes == std::array<std::uint8_t, 6>{};
    const bool group = (bytes[0] & 1) != 0; // multicast, broadcast included
    if (zero || group) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace tarnvik

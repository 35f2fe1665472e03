// SPDX-License-Identifier: MIT
#include "neighbour.h"

#include <cstdio>

namespace tarnvik {

std::string linkAddressText(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != 6) {
        return {};
    }
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5]);
    return text;
}

} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "neighbour.h"

#include <algorithm>
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

void addUnrouted(std::vector<Ipv6Router>& routers, const std::vector<Ipv6Router>& others) {
    const auto routed = routers.size();
    for (const auto& other : others) {
        const auto same = [&](const Ipv6Router& router) {
            return router.interfaceIndex == other.interfaceIndex && router.address == other.address;
        };
        if (std::none_of(routers.begin(), routers.begin() + static_cast<std::ptrdiff_t>(routed),
                         same)) {
            Ipv6Router entry;
            entry.interfaceIndex = other.interfaceIndex;
            entry.address = other.address;
            entry.routed = false;
            routers.push_back(entry);
        }
    }
}

} // namespace tarnvik

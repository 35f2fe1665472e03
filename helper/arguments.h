// SPDX-License-Identifier: MIT
// The helpers' arguments, read strictly: a capable program takes nothing it need not take.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnvik {

// A positive decimal interface index without leading zeros.
std::optional<int> interfaceIndex(std::string_view text);

// Dotted quad, unicast: not 0.0.0.0/8, loopback, multicast, reserved or broadcast.
std::optional<std::array<std::uint8_t, 4>> unicastIpv4(const char* text);

// An IPv6 link-local unicast address (fe80::/10), without a zone.
std::optional<std::array<std::uint8_t, 16>> linkLocalIpv6(const char* text);

// Six pairs of hex digits joined by colons, unicast and not all zero.
std::optional<std::array<std::uint8_t, 6>> unicastLinkAddress(std::string_view text);

} // namespace tarnvik

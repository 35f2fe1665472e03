// SPDX-License-Identifier: MIT
#include "ip_text.h"

#include <array>
#include <charconv>
#include <cstdint>

namespace tarnvik {

namespace {

// Decimal digits with an optional sign, within the signed 32-bit range.
std::optional<std::int32_t> parseWholeNumber(std::string_view part) {
    if (!part.empty() && part.front() == '+') {
        part.remove_prefix(1);
        if (!part.empty() && part.front() == '-') {
            return std::nullopt;
        }
    }
    if (part.empty()) {
        return std::nullopt;
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (error != std::errc{} || end != part.data() + part.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<Ipv4Value> parseDottedIpv4(std::string_view text) {
    std::array<std::uint8_t, 4> octets{};
    for (std::size_t i = 0; i < octets.size(); ++i) {
        const auto dot = text.find('.');
        if ((dot == std::string_view::npos) != (i == octets.size() - 1)) {
            return std::nullopt;
        }
        const auto number = parseWholeNumber(text.substr(0, dot));
        if (!number) {
            return std::nullopt;
        }
        octets[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(*number) & 0xFFu);
        text.remove_prefix(dot == std::string_view::npos ? text.size() : dot + 1);
    }
    return ipv4FromOctets(octets[0], octets[1], octets[2], octets[3]);
}

std::optional<Ipv4Value> probeTargetAddress(std::string_view text) {
    const auto address = parseDottedIpv4(text);
    return address && *address != 0 ? address : std::nullopt;
}

std::string dottedText(Ipv4Value address) {
    const auto octets = ipv4Octets(address);
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." +
           std::to_string(octets[2]) + "." + std::to_string(octets[3]);
}

} // namespace tarnvik

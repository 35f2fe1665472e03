// SPDX-License-Identifier: MIT
// Dotted IPv4 text, read and written in one place for the whole program: the echo client probes
// what this reads, and the evidence reads the tables for exactly that.
#pragma once

#include "platform.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarnvik {

// Four parts split at dots, each decimal digits with an optional sign within the signed 32-bit
// range, of which only the lowest 8 bits count (256 gives 0, -1 gives 255). Anything else, a
// blank, tab or line break included, is no address.
std::optional<Ipv4Value> parseDottedIpv4(std::string_view text);

// The address a probe of `text` goes to, if the text names one: read as above, and not 0.0.0.0
// (which names no host). The window's "no target" and the evidence's reading agree through it.
std::optional<Ipv4Value> probeTargetAddress(std::string_view text);

// 10.0.0.1
std::string dottedText(Ipv4Value address);

} // namespace tarnvik

// SPDX-License-Identifier: MIT
// How a start is launched: the command line over the configuration an administrator deployed.
// The configuration comes in layers, the least binding first (Linux: the XDG system files, then
// the user's own; Windows: the policy key, then the user's key). A key a system layer locks
// keeps that layer's value whatever a later layer or the command line says. Keys: `target` (the
// text of the box), `start` (monitor at once) and `guard` (as --guard). A value that cannot be
// used is said and ignored.
#pragma once

#include "options.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvik {

// The keys, in the order of ConfigLayer's arrays.
inline constexpr const char* kConfigurationKeys[] = {"target", "start", "guard"};
enum ConfigKey { kTargetKey, kStartKey, kGuardKey, kConfigKeys };
// A key's place, or kConfigKeys for none of ours.
int configKey(std::string_view name);

struct ConfigLayer {
    std::string origin; // a file's path, or a registry key's name, for what is said about it
    std::array<std::optional<std::string>, kConfigKeys> values = {};
    std::array<bool, kConfigKeys> locked = {}; // only a system layer's count
    bool system = false;
    // Lines that were no key = value, or named no key of ours.
    std::vector<std::string> problems;
};

// A configuration file: "key = value" lines, '#' and ';' comments, an optional "[General]"
// section, and in a system file "locked = target, start" naming the keys nobody may change. A
// file may come with a byte-order mark and CRLF line ends.
ConfigLayer parseConfigFile(std::string origin, std::string_view text, bool system);

struct Launch {
    // The text for the box, and whether monitoring starts with it at once.
    std::optional<std::string> target;
    bool start = false;
    bool guard = false;
    // What could not be used, in words, each said once at start.
    std::vector<std::string> problems;
};

Launch resolveLaunch(const Options& options, const std::vector<ConfigLayer>& layers);

// How a text in the box is read: an IPv4 address, a host name (the mode that looks it up), or no
// target at all.
enum class TargetForm { address, hostName, none };
TargetForm targetForm(std::string_view text);

} // namespace tarnvik

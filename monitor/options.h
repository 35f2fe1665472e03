// SPDX-License-Identifier: MIT
// The command line of both editions. An option changes what the program does, so a mistyped one
// (--gaurd) must never run in silence without it: any word that begins with '-' and is not an
// option here is refused.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnvik {

inline constexpr const char* kUsage =
    "Usage: tarnvik [--guard] [--start TARGET | --autostart] [--help | --version]\n"
    "\n"
    "Keeps the connection to one host: one ICMP echo a second, a green or red lamp. Each\n"
    "unanswered echo, and each change of the next hop's link-layer address, is logged to\n"
    "arp_log.log and the ARP cache is flushed, so that it is learnt afresh. The window says at\n"
    "start where the log is and what it lacks.\n"
    "\n"
    "  --guard    once an attack is confirmed, hold the next hop's genuine address as a static\n"
    "             entry until monitoring stops (Linux: the group tarnvik; Windows: elevated)\n"
    "  --start TARGET  put TARGET (an address or a host name) in the box and start\n"
    "             monitoring at once\n"
    "  --autostart  as the session starts it: opens only where the configuration says\n"
    "             start = true (tarnvik.conf; Windows: the policy or user key)\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n";

struct Options {
    bool help = false;
    bool version = false;
    bool guard = false;
    bool autostart = false;
    std::optional<std::string> start;
    // What is wrong with the command line, said as it stands ("unknown argument -g"); empty
    // when nothing is.
    std::string error;
};

Options parseOptions(const std::vector<std::string>& arguments);

} // namespace tarnvik

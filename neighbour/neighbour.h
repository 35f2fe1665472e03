// SPDX-License-Identifier: MIT
// The operating-system seam for the neighbour table: which next hop the route toward an address
// uses, and what the table holds for it. Reading needs no privilege. neighbour_posix.cpp
// (rtnetlink) and neighbour_win32.cpp (the IP helper) implement it.
#pragma once

#include "platform.h"

#include <cstdint>
#include <span>
#include <string>

namespace tarnvik {

struct NeighbourReading {
    // The address is this machine's own: there is no next hop to read.
    bool local = false;
    // The address itself when it is on-link, else the gateway of the route the kernel would use.
    Ipv4Value nextHop = 0;
    // As "02:00:00:00:00:02", lower case; empty when the table holds none.
    std::string linkAddress;
    // The kernel's word for the entry: REACHABLE, STALE, DELAY, PROBE, FAILED, INCOMPLETE,
    // PERMANENT, NOARP, or "none".
    std::string state = "none";
};

// Reads the route toward `destination` and its next hop's neighbour entry. Returns 0 or the
// error number that stopped it (os::errorText describes it).
int readNeighbour(Ipv4Value destination, NeighbourReading& reading);

// A 6-byte link-layer address as "02:00:00:00:00:02"; other lengths give empty text.
std::string linkAddressText(std::span<const std::uint8_t> bytes);

} // namespace tarnvik

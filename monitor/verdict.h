// SPDX-License-Identifier: MIT
// What the evidence of one reading of the next hop's entry says, in the words the evidence log
// and the system's log use; and the kinds of record the system's log receives.
#pragma once

#include <cstdint>

namespace tarnvik {

// On Windows each kind is the event ID of its records in the Application log, whose text the
// message table in tarnvik.exe shows as it stands (win32/events.mc).
enum class SystemRecord : std::uint16_t {
    attack = 1,          // the attack log's line
    evidenceChanged = 2, // an evidence line with the verdict "changed" or "new-router"
    evidence = 3,        // every other evidence line
    repairFailure = 4,   // a repair that could not log, flush, hold or release
};

enum class Verdict {
    local,      // the address is this machine's own: no next hop
    unknown,    // no answered probe of this next hop to compare with
    unresolved, // the table holds no link-layer address now
    changed,    // another link-layer address than the next hop's genuine one
    unchanged,
    moved,       // the next hop took another address for good: the host or router was replaced
    held,        // the genuine address is held as a static entry while the attack goes on
    released,    // that hold is released again
    announced,   // the next hop is told our genuine address while an attack goes on (started,
                 // ended)
    newRouter,   // an IPv6 default router that was not there when monitoring started
    routerGone,  // a known IPv6 default router's route went (information only)
    routerFlood, // more IPv6 default routers than are watched: the ones beyond are not
    watching,    // the neighbour's genuine address as first learnt: watched from now on
};

constexpr const char* verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::local:
        return "local";
    case Verdict::unknown:
        return "unknown";
    case Verdict::unresolved:
        return "unresolved";
    case Verdict::changed:
        return "changed";
    case Verdict::unchanged:
        return "unchanged";
    case Verdict::moved:
        return "moved";
    case Verdict::held:
        return "held";
    case Verdict::released:
        return "released";
    case Verdict::announced:
        return "announced";
    case Verdict::newRouter:
        return "new-router";
    case Verdict::routerGone:
        return "router-gone";
    case Verdict::routerFlood:
        return "router-flood";
    case Verdict::watching:
        return "watching";
    }
    return "unknown";
}

} // namespace tarnvik

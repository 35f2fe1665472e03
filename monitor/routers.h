// SPDX-License-Identifier: MIT
// The watch over this machine's IPv6 default routers while monitoring runs: the routers present
// when it is armed (right after the IPv6 neighbour entries were flushed) are the known ones, each
// with a watch of its own over its entry (watch.h: the same rules as the next hop's, so its first
// link-layer address learnt from then on is its genuine one). A known router's entry holding
// another address is a changed router (a forged neighbour advertisement); a router that was not
// there at the start is a new one (a rogue router advertisement, or the first router of a LAN that
// had none); a known router whose route went is gone, and may come back without a word. Pure
// logic: readings come from the tick's read and the notifications.
#pragma once

#include "neighbour.h"
#include "verdict.h"
#include "watch.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnvik {

// How many routers are watched: a flood of router advertisements adds no more.
inline constexpr std::size_t kMostRouters = 16;

struct RouterFinding {
    // changed, newRouter, routerGone, moved, routerFlood or watching
    Verdict verdict = Verdict::changed;
    Ipv6Router router;
    // The router's genuine link-layer address, where one is known (before a move, the old one).
    std::string genuine;
    // Its default route went as its entry took another address (a forged advertisement with
    // the router flag clear, or a router advertisement with lifetime 0).
    bool routeLost = false;
    // A move proven by questions: the old address silent, the new one answering.
    bool moveProven = false;
};

// One router as the watch knows it.
struct KnownRouter {
    Ipv6Router router; // its identity and its last reading
    NeighbourWatch watch;
    bool present = true;
    bool unreported = false; // a new router not told yet
};

// A router's entry as the watch reads it (no IPv4 next hop; the router's own address lives in
// the identity beside it).
NeighbourReading routerEntry(const Ipv6Router& router);

class RouterWatch {
  public:
    // `canAsk`: a router's genuine address can be asked directly.
    explicit RouterWatch(bool canAsk = false) : canAsk_(canAsk) {}
    // The routers present now are the known ones; `proven` when their entries were just flushed.
    // Returns the ones whose genuine address is known already (`watching`).
    std::vector<RouterFinding> arm(const std::vector<Ipv6Router>& present, bool proven);
    void disarm() { *this = RouterWatch{canAsk_}; }
    void beginTick();
    // A repair's flush of the IPv6 entries has been started.
    void repaired();
    bool armed() const { return armed_; }
    // Every router as read now; what changed since the last reading. A new router is told once
    // its link-layer address is known, or at the next `tick` without it. A known router without
    // its default route (not `routed`) whose entry took another address is attacked, not gone.
    std::vector<RouterFinding> observe(const std::vector<Ipv6Router>& routers, bool tick);
    // What became of a question to one router (about `linkAddress`): an attack, or a move.
    std::vector<RouterFinding> answered(const Ipv6Router& router, Asked asked,
                                        const std::string& linkAddress, Answer answer);
    // The routers whose entries are followed: every one seen since the watch was armed.
    std::vector<Ipv6Address> addresses() const;
    std::vector<KnownRouter>& known() { return known_; }
    const std::vector<KnownRouter>& known() const { return known_; }

  private:
    KnownRouter* find(const Ipv6Router& router);
    std::optional<RouterFinding> finding(const KnownRouter& known, WatchOutcome outcome) const;

    bool canAsk_ = false;
    bool armed_ = false;
    bool flooded_ = false;
    std::vector<KnownRouter> known_;
};

} // namespace tarnvik

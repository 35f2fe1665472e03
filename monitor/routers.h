// SPDX-License-Identifier: MIT
// The watch over this machine's IPv6 default routers while monitoring runs: the routers present
// when it is armed (right after the IPv6 neighbour entries were flushed) are the known ones, each
// with the first link-layer address learnt for it from then on as its genuine one. A known
// router's entry holding another address is a changed router (a forged neighbour advertisement);
// a router that was not there at the start is a new one (a rogue router advertisement, or the
// first router of a LAN that had none); a known router whose route went is gone, and may come
// back without a word. Pure logic: readings come from the tick's read and the notifications.
#pragma once

#include "neighbour.h"
#include "verdict.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnvik {

struct RouterFinding {
    Verdict verdict = Verdict::changed; // changed, newRouter or routerGone
    Ipv6Router router;
    // The router's genuine link-layer address, where one is known.
    std::string genuine;
};

class RouterWatch {
  public:
    // The routers present now are the known ones; `proven` when their entries were just flushed.
    void arm(const std::vector<Ipv6Router>& present, bool proven);
    void disarm() { *this = RouterWatch{}; }
    bool armed() const { return armed_; }
    // Every router as read now; what changed since the last reading. A new router is told once
    // its link-layer address is known, or at the next `tick` without it.
    std::vector<RouterFinding> observe(const std::vector<Ipv6Router>& routers, bool tick);
    // The routers whose entries are followed: every one seen since the watch was armed.
    std::vector<Ipv6Address> addresses() const;
    // A router whose other address came back after its genuine one had been learnt again (a
    // flip-flop), its genuine address learnt right after the flush: the only kind the guard may
    // hold.
    std::optional<Ipv6Router> confirmed() const;
    // The known routers whose entries held another address at the last reading, as genuine.
    std::vector<Ipv6Router> underAttack() const;

  private:
    struct Known {
        Ipv6Router genuine; // its link-layer address empty until learnt
        bool present = true;
        bool proven = false;
        bool confirmed = false;
        bool otherHolds = false;
        std::optional<std::string> suspect = std::nullopt;
        bool genuineSinceSuspect = false;
        bool unreported = false; // a new router not told yet
    };
    Known* find(const Ipv6Router& router);

    bool armed_ = false;
    std::vector<Known> known_;
};

} // namespace tarnvik

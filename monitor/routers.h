// SPDX-License-Identifier: MIT
// The watch over this machine's IPv6 default routers while monitoring runs: the routers present
// when it is armed (right after the IPv6 neighbour entries were flushed) are the known ones, each
// with the first link-layer address learnt for it from then on as its genuine one. A known
// router's entry holding another address is a changed router (a forged neighbour advertisement);
// a router that was not there at the start is a new one (a rogue router advertisement, or the
// first router of a LAN that had none); a known router whose route went is gone, and may come
// back without a word. As for the next hop (watch.h), another address that stays through the
// repair's flush has the router's genuine address asked directly: its answer proves the attack,
// its silence while the other answers is a move (the router was replaced with the same
// link-local address); where nobody can be asked, a move takes kTicksAbsentForAMove ticks. Pure
// logic: readings come from the tick's read and the notifications.
#pragma once

#include "neighbour.h"
#include "verdict.h"
#include "watch.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnvik {

struct RouterFinding {
    Verdict verdict = Verdict::changed; // changed, newRouter, routerGone or moved
    Ipv6Router router;
    // The router's genuine link-layer address, where one is known (before a move, the old one).
    std::string genuine;
};

// A router whose other address stayed through a repair: is the genuine one still there?
struct RouterQuestion {
    Ipv6Router genuine;
    std::string suspect; // the other link-layer address
};

class RouterWatch {
  public:
    // `canAsk`: a router's genuine address can be asked directly.
    explicit RouterWatch(bool canAsk = false) : canAsk_(canAsk) {}
    // The routers present now are the known ones; `proven` when their entries were just flushed.
    void arm(const std::vector<Ipv6Router>& present, bool proven);
    void disarm() { *this = RouterWatch{canAsk_}; }
    void beginTick();
    // A repair's flush of the IPv6 entries has been started.
    void repaired();
    bool armed() const { return armed_; }
    // Every router as read now; what changed since the last reading. A new router is told once
    // its link-layer address is known, or at the next `tick` without it.
    std::vector<RouterFinding> observe(const std::vector<Ipv6Router>& routers, bool tick);
    // The open question, one router at a time.
    std::optional<RouterQuestion> question() const;
    // Its answer: the genuine address's makes an attack (told now, and each tick while the
    // other address stays); its silence while the other answers, a move.
    std::vector<RouterFinding> answered(bool genuineAnswered, bool otherAnswered);
    // The routers whose entries are followed: every one seen since the watch was armed.
    std::vector<Ipv6Address> addresses() const;
    // A router whose other address came back after its genuine one had been learnt again (a
    // flip-flop), or whose genuine address answered the question, its genuine address learnt
    // right after the flush: the only kind the guard may hold.
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
        bool attackProven = false;
        bool questionOpen = false;
        bool repairedSinceSuspect = false;
        bool absentSinceRepair = false;
        int ticksSinceRepair = 0;
        int ticksSinceSuspect = 0;
        bool attackedThisTick = false;
    };
    Known* find(const Ipv6Router& router);
    // The other address is still there: a question, a move or (proven) the attack again.
    void stays(Known& known, const Ipv6Router& router, bool tick,
               std::vector<RouterFinding>& findings);
    RouterFinding move(Known& known, const Ipv6Router& router, bool proven);

    bool canAsk_ = false;
    bool armed_ = false;
    std::vector<Known> known_;
};

} // namespace tarnvik

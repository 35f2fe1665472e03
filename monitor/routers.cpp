// SPDX-License-Identifier: MIT
#include "routers.h"

#include <algorithm>
#include <utility>

namespace tarnvik {

void RouterWatch::arm(const std::vector<Ipv6Router>& present, bool proven) {
    disarm();
    armed_ = true;
    for (const auto& router : present) {
        known_.push_back({.genuine = router, .proven = proven});
    }
}

RouterWatch::Known* RouterWatch::find(const Ipv6Router& router) {
    const auto found = std::find_if(known_.begin(), known_.end(), [&](const Known& known) {
        return known.genuine.interfaceIndex == router.interfaceIndex &&
               known.genuine.address == router.address;
    });
    return found == known_.end() ? nullptr : &*found;
}

std::vector<RouterFinding> RouterWatch::observe(const std::vector<Ipv6Router>& routers, bool tick) {
    std::vector<RouterFinding> findings;
    if (!armed_) {
        return findings;
    }
    for (auto& known : known_) {
        const bool stillThere = std::any_of(routers.begin(), routers.end(), [&](const auto& r) {
            return r.interfaceIndex == known.genuine.interfaceIndex &&
                   r.address == known.genuine.address;
        });
        if (known.present && !stillThere) {
            findings.push_back({Verdict::routerGone, known.genuine, known.genuine.linkAddress});
        }
        known.present = stillThere;
    }
    for (const auto& router : routers) {
        Known* known = find(router);
        if (known == nullptr) {
            known_.push_back({.genuine = router});
            known = &known_.back();
            known->unreported = true;
        }
        const std::string& now = router.linkAddress;
        if (known->unreported && (!now.empty() || tick)) {
            // Told with its link-layer address, which its advertisement brings a moment later.
            known->unreported = false;
            findings.push_back({Verdict::newRouter, router, ""});
        }
        if (now.empty()) {
            known->absentSinceRepair = true;
            continue;
        }
        known->otherHolds =
            !known->genuine.linkAddress.empty() && now != known->genuine.linkAddress;
        if (known->genuine.linkAddress.empty()) {
            known->genuine.linkAddress = now;
            known->genuine.state = router.state;
        } else if (now == known->genuine.linkAddress) {
            known->genuineSinceSuspect = known->suspect.has_value();
        } else if (known->suspect != now || known->genuineSinceSuspect) {
            known->confirmed = known->confirmed || known->suspect == now;
            if (known->suspect != now) {
                known->attackProven = false;
                known->questionOpen = false;
                known->ticksSinceSuspect = 0;
            }
            known->suspect = now;
            known->genuineSinceSuspect = false;
            known->repairedSinceSuspect = false;
            known->attackedThisTick = true;
            findings.push_back({Verdict::changed, router, known->genuine.linkAddress});
        } else {
            stays(*known, router, tick, findings);
        }
    }
    return findings;
}

void RouterWatch::stays(Known& known, const Ipv6Router& router, bool tick,
                        std::vector<RouterFinding>& findings) {
    if (known.attackProven) {
        if (tick && !known.attackedThisTick) {
            known.attackedThisTick = true;
            findings.push_back({Verdict::changed, router, known.genuine.linkAddress});
        }
        return;
    }
    // It must have outlasted a repair's flush: seen gone since, or two ticks on.
    if (!known.repairedSinceSuspect || !(known.absentSinceRepair || known.ticksSinceRepair >= 2)) {
        return;
    }
    if (canAsk_) {
        known.questionOpen = true;
    } else if (known.ticksSinceSuspect >= kTicksAbsentForAMove) {
        findings.push_back(move(known, router, false));
    }
}

RouterFinding RouterWatch::move(Known& known, const Ipv6Router& router, bool proven) {
    RouterFinding finding{Verdict::moved, router, known.genuine.linkAddress};
    known.genuine.linkAddress = router.linkAddress;
    known.genuine.state = router.state;
    // Taken over because nothing else came back, it is no proof; a silent genuine router and an
    // answering new one are.
    known.proven = proven;
    known.confirmed = false;
    known.otherHolds = false;
    known.suspect.reset();
    known.questionOpen = false;
    return finding;
}

void RouterWatch::beginTick() {
    for (auto& known : known_) {
        ++known.ticksSinceRepair;
        ++known.ticksSinceSuspect;
        known.attackedThisTick = false;
    }
}

void RouterWatch::repaired() {
    for (auto& known : known_) {
        known.repairedSinceSuspect = known.suspect.has_value();
        known.absentSinceRepair = false;
        known.ticksSinceRepair = 0;
    }
}

std::optional<RouterQuestion> RouterWatch::question() const {
    for (const auto& known : known_) {
        if (known.questionOpen && known.suspect && known.present) {
            return RouterQuestion{known.genuine, *known.suspect};
        }
    }
    return std::nullopt;
}

std::vector<RouterFinding> RouterWatch::answered(bool genuineAnswered, bool otherAnswered) {
    std::vector<RouterFinding> findings;
    const auto open = std::find_if(known_.begin(), known_.end(), [](const Known& known) {
        return known.questionOpen && known.suspect && known.present;
    });
    if (open == known_.end()) {
        return findings;
    }
    Known& known = *open;
    known.questionOpen = false;
    Ipv6Router other = known.genuine;
    other.linkAddress = *known.suspect;
    if (genuineAnswered) {
        known.attackProven = true;
        known.confirmed = true;
        if (!std::exchange(known.attackedThisTick, true)) {
            findings.push_back({Verdict::changed, other, known.genuine.linkAddress});
        }
    } else if (otherAnswered) {
        findings.push_back(move(known, other, true));
    } else {
        // Neither answered: asked again two ticks on.
        known.ticksSinceRepair = 0;
        known.absentSinceRepair = false;
    }
    return findings;
}

std::vector<Ipv6Address> RouterWatch::addresses() const {
    std::vector<Ipv6Address> addresses;
    for (const auto& known : known_) {
        if (std::find(addresses.begin(), addresses.end(), known.genuine.address) ==
            addresses.end()) {
            addresses.push_back(known.genuine.address);
        }
    }
    return addresses;
}

std::vector<Ipv6Router> RouterWatch::underAttack() const {
    std::vector<Ipv6Router> attacked;
    for (const auto& known : known_) {
        if (known.otherHolds && known.present) {
            attacked.push_back(known.genuine);
        }
    }
    return attacked;
}

std::optional<Ipv6Router> RouterWatch::confirmed() const {
    for (const auto& known : known_) {
        if (known.confirmed && known.proven) {
            return known.genuine;
        }
    }
    return std::nullopt;
}

} // namespace tarnvik

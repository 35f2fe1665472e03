// SPDX-License-Identifier: MIT
#include "routers.h"

#include <algorithm>
#include <utility>

namespace tarnvik {

namespace {

bool sameRouter(const Ipv6Router& a, const Ipv6Router& b) {
    return a.interfaceIndex == b.interfaceIndex && a.address == b.address;
}

} // namespace

NeighbourReading routerEntry(const Ipv6Router& router) {
    NeighbourReading entry;
    entry.interfaceIndex = router.interfaceIndex;
    entry.linkAddress = router.linkAddress;
    entry.state = router.state;
    return entry;
}

std::vector<RouterFinding> RouterWatch::arm(const std::vector<Ipv6Router>& present, bool proven) {
    disarm();
    armed_ = true;
    std::vector<RouterFinding> findings;
    for (const auto& router : present) {
        known_.push_back({router, NeighbourWatch(canAsk_)});
        known_.back().watch.arm(proven);
        if (const auto found =
                finding(known_.back(), known_.back().watch.observe(routerEntry(router)))) {
            findings.push_back(*found);
        }
    }
    return findings;
}

KnownRouter* RouterWatch::find(const Ipv6Router& router) {
    const auto found = std::find_if(known_.begin(), known_.end(), [&](const KnownRouter& known) {
        return sameRouter(known.router, router);
    });
    return found == known_.end() ? nullptr : &*found;
}

std::optional<RouterFinding> RouterWatch::finding(const KnownRouter& known,
                                                  WatchOutcome outcome) const {
    const auto& watch = known.watch;
    if (outcome == WatchOutcome::attack) {
        Ipv6Router now = known.router;
        now.linkAddress = watch.suspect() ? watch.suspect()->linkAddress : now.linkAddress;
        return RouterFinding{Verdict::changed, now, watch.baseline()->linkAddress,
                             !known.router.routed};
    }
    if (outcome == WatchOutcome::moved) {
        Ipv6Router now = known.router;
        now.linkAddress = watch.baseline()->linkAddress;
        return RouterFinding{Verdict::moved, now, watch.previousBaseline()->linkAddress, false,
                             watch.baselineProven()};
    }
    if (outcome == WatchOutcome::baseline) {
        return RouterFinding{Verdict::watching, known.router, known.router.linkAddress};
    }
    return std::nullopt;
}

std::vector<RouterFinding> RouterWatch::observe(const std::vector<Ipv6Router>& routers, bool tick) {
    std::vector<RouterFinding> findings;
    if (!armed_) {
        return findings;
    }
    for (auto& known : known_) {
        const auto entry = std::find_if(routers.begin(), routers.end(),
                                        [&](const auto& r) { return sameRouter(r, known.router); });
        const bool stillThere = entry != routers.end() && entry->routed;
        const auto& genuine = known.watch.baseline();
        // Gone with another address in its entry: the attack takes it, below.
        const bool takenOver = entry != routers.end() && genuine && !entry->linkAddress.empty() &&
                               entry->linkAddress != genuine->linkAddress;
        if (known.present && !stillThere && !takenOver) {
            Ipv6Router gone = known.router;
            gone.linkAddress = genuine ? genuine->linkAddress : std::string();
            findings.push_back({Verdict::routerGone, gone, gone.linkAddress});
        }
        known.present = stillThere;
    }
    for (const auto& router : routers) {
        KnownRouter* known = find(router);
        if (known == nullptr && !router.routed) {
            continue;
        }
        if (known == nullptr && known_.size() >= kMostRouters) {
            if (!std::exchange(flooded_, true)) {
                findings.push_back({Verdict::routerFlood, router, ""});
            }
            continue;
        }
        if (known == nullptr) {
            known_.push_back({router, NeighbourWatch(canAsk_), true, true});
            known = &known_.back();
            known->watch.arm(false);
        }
        known->router = router;
        if (known->unreported && (!router.linkAddress.empty() || tick)) {
            // Told with its link-layer address, which its advertisement brings a moment later.
            known->unreported = false;
            findings.push_back({Verdict::newRouter, router, ""});
        }
        if (const auto found = finding(*known, known->watch.observe(routerEntry(router)))) {
            findings.push_back(*found);
        }
    }
    return findings;
}

std::vector<RouterFinding> RouterWatch::answered(const Ipv6Router& router, Asked asked,
                                                 const std::string& linkAddress, Answer answer) {
    std::vector<RouterFinding> findings;
    if (KnownRouter* known = find(router); known && known->present) {
        if (const auto found = finding(*known, known->watch.answered(asked, linkAddress, answer))) {
            findings.push_back(*found);
        }
    }
    return findings;
}

void RouterWatch::beginTick() {
    for (auto& known : known_) {
        known.watch.beginTick();
    }
}

void RouterWatch::repaired() {
    for (auto& known : known_) {
        known.watch.repaired();
    }
}

std::vector<Ipv6Address> RouterWatch::addresses() const {
    std::vector<Ipv6Address> addresses;
    for (const auto& known : known_) {
        if (std::find(addresses.begin(), addresses.end(), known.router.address) ==
            addresses.end()) {
            addresses.push_back(known.router.address);
        }
    }
    return addresses;
}

} // namespace tarnvik

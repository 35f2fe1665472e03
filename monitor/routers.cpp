// SPDX-License-Identifier: MIT
#include "routers.h"

#include <algorithm>

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
            known->suspect = now;
            known->genuineSinceSuspect = false;
            findings.push_back({Verdict::changed, router, known->genuine.linkAddress});
        }
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

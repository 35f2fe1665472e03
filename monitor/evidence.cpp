// SPDX-License-Identifier: MIT
#include "evidence.h"
#include "ip_text.h"
#include "system.h"

#include <vector>

namespace tarnvik {

EvidenceRecorder::EvidenceRecorder(EvidenceSettings settings)
    : settings_(std::move(settings)), watch_(settings_.ask != nullptr),
      routers_(settings_.ask != nullptr) {
    follow(std::nullopt); // nothing is wanted until a next hop is armed
}

void EvidenceRecorder::report(const std::string& line) const {
    if (settings_.report) {
        settings_.report(line);
    }
}

void EvidenceRecorder::startWatching() {
    watching_ = true;
    hop_.reset();
    armed_.reset();
    follow(std::nullopt);
    routers_.disarm();
    followRouters();
}

void EvidenceRecorder::stopWatching() {
    watching_ = false;
    follow(std::nullopt);
    routers_.disarm();
    followRouters();
}

void EvidenceRecorder::armRouters(bool flushed) {
    std::vector<Ipv6Router> present;
    if (!settings_.readRouters || !watching_) {
        return;
    }
    if (const int error = settings_.readRouters(present, {})) {
        report("cannot read the IPv6 routers: " + os::errorText(error));
    }
    // Nothing of IPv6 was followed until now, so the flush's own deletions never arrived.
    recordRouters(routers_.arm(present, flushed));
    (void)routers_.observe(present, false); // their addresses learnt since the flush
    followRouters();
}

void EvidenceRecorder::followRouters() {
    if (!settings_.events || !settings_.readRouters) {
        return;
    }
    const auto addresses = routers_.addresses();
    if (const int error = settings_.events->followRouters(addresses, routers_.armed());
        error != 0 && !followFailureSaid_) {
        followFailureSaid_ = true;
        report("cannot filter the neighbour notifications, so every one is read: " +
               os::errorText(error));
    }
}

NeighbourReading EvidenceRecorder::routerReading(const Ipv6Router& router,
                                                 const std::string& linkAddress) const {
    NeighbourReading reading;
    reading.interfaceIndex = router.interfaceIndex;
    reading.linkAddress = linkAddress;
    reading.state = linkAddress.empty() ? "none" : router.state;
    reading.ipv6 =
        settings_.ipv6Text ? settings_.ipv6Text(router.address, router.interfaceIndex) : "?";
    return reading;
}

void EvidenceRecorder::readRouters(bool tick, bool again) {
    if (!routers_.armed()) {
        return;
    }
    std::vector<Ipv6Router> routers, known;
    for (const auto& router : routers_.known()) {
        known.push_back(router.router);
    }
    if (const int error = settings_.readRouters(routers, known)) {
        if (!std::exchange(routerReadFailureSaid_, true)) {
            report("cannot read the IPv6 routers: " + os::errorText(error));
        }
        return;
    }
    const auto followed = routers_.addresses().size();
    recordRouters(routers_.observe(routers, tick));
    if (routers_.addresses().size() != followed && again) {
        // A new router's entry is followed from now on; what it learnt before that is read, once
        // (the routers watched are few: a flood adds none).
        followRouters();
        readRouters(tick, false);
    }
}

void EvidenceRecorder::recordRouters(const std::vector<RouterFinding>& findings) {
    for (const auto& finding : findings) {
        const auto& router = finding.router;
        const auto genuine = routerReading(router, finding.genuine);
        const auto now =
            routerReading(router, finding.verdict == Verdict::routerGone ? "" : router.linkAddress);
        std::optional<std::string> holder;
        if (finding.verdict == Verdict::changed && settings_.ipv6Holder) {
            if (const auto other = settings_.ipv6Holder(router.interfaceIndex, router.address,
                                                        router.linkAddress)) {
                holder = settings_.ipv6Text(*other, router.interfaceIndex);
            }
        }
        const bool attack =
            finding.verdict == Verdict::changed || finding.verdict == Verdict::newRouter;
        if (attack && attacked_) {
            attacked_(true);
        }
        const bool unknown =
            finding.verdict == Verdict::newRouter || finding.verdict == Verdict::routerFlood;
        record({target_, unknown ? std::nullopt : std::optional(genuine), now, finding.verdict,
                holder, finding.routeLost, finding.moveProven});
        routerAttacked_ = routerAttacked_ || attack;
    }
}

std::optional<NeighbourReading> EvidenceRecorder::read(const std::string& probed) {
    // Only what the probe itself reads as an address names something to read the tables for, so
    // no text that holds a blank, a tab or a line break reaches a line.
    const auto address = probeTargetAddress(probed);
    if (!address || !settings_.read) {
        return std::nullopt;
    }
    NeighbourReading reading;
    if (const int error = settings_.read(*address, reading)) {
        report("cannot read the neighbour table for " + probed + ": " + os::errorText(error));
        return std::nullopt;
    }
    if (probed != target_) {
        target_ = probed;
        hop_.reset();
    }
    if (!reading.local) {
        hop_ = reading;
    }
    return reading;
}

bool EvidenceRecorder::catchUp() {
    bool attacked = false;
    if (settings_.events) {
        settings_.events->drain([&](const NeighbourChange& change) {
            attacked = notified(change) == WatchOutcome::attack || attacked;
        });
        if (settings_.events->routersChanged()) {
            readRouters(false);
        }
    }
    return attacked;
}

namespace {

bool sameHop(const NeighbourReading& a, const NeighbourReading& b) {
    return a.nextHop == b.nextHop && a.interfaceIndex == b.interfaceIndex;
}

} // namespace

EvidenceRecorder::TickStart EvidenceRecorder::beginTick(const std::string& probed) {
    // What came in since the last tick belongs to it.
    TickStart tick{catchUp(), false};
    watch_.beginTick();
    routers_.beginTick();
    // Where the system tells no changes, this read is the watch; else it catches what a lost
    // notification would have missed.
    readRouters(true);
    if (const auto reading = read(probed); reading && !reading->local) {
        if (!armed_ || !sameHop(*armed_, *reading)) {
            tick.needsArming = watching_;
        } else {
            tick.attacked = observe(*reading) == WatchOutcome::attack || tick.attacked;
        }
    }
    return tick;
}

void EvidenceRecorder::arm(const std::string& probed, bool flushed) {
    if (settings_.events) {
        // What the cache held before the flush, and the flush's own deletions.
        settings_.events->drain([](const NeighbourChange&) {});
    }
    watch_.arm(flushed);
    armed_.reset();
    if (const auto reading = read(probed); reading && !reading->local) {
        armed_ = reading;
        follow(reading->nextHop);
        observe(*reading);
    }
}

void EvidenceRecorder::follow(std::optional<Ipv4Value> hop) {
    if (!settings_.events) {
        return;
    }
    std::vector<Ipv4Value> followed;
    if (hop) {
        followed.push_back(*hop);
    }
    if (const int error = settings_.events->follow(followed); error != 0 && !followFailureSaid_) {
        followFailureSaid_ = true;
        report("cannot filter the neighbour notifications, so every one is read: " +
               os::errorText(error));
    }
}

WatchOutcome EvidenceRecorder::notified(const NeighbourChange& change) {
    if (!watching_ || !armed_ || change.interfaceIndex != armed_->interfaceIndex ||
        change.reading.nextHop != armed_->nextHop) {
        return WatchOutcome::nothing;
    }
    return observe(change.reading);
}

WatchOutcome EvidenceRecorder::observe(const NeighbourReading& reading) {
    return recordOutcome(watch_.observe(reading), reading);
}

namespace {

std::string nextHopKey(const NeighbourReading& baseline) {
    return "next hop " + dottedText(baseline.nextHop);
}

std::string routerKey(const Ipv6Router& router) {
    std::string key = "router " + std::to_string(router.interfaceIndex);
    for (const auto byte : router.address) {
        key += ' ' + std::to_string(byte);
    }
    return key;
}

} // namespace

std::vector<DefendedNeighbour> EvidenceRecorder::defended() {
    std::vector<DefendedNeighbour> neighbours;
    if (armed_ && watch_.baseline()) {
        neighbours.push_back({nextHopKey(*watch_.baseline()), &watch_, watch_.baseline(),
                              watch_.suspect(), hop_, target_});
    }
    for (auto& known : routers_.known()) {
        const auto& genuine = known.watch.baseline();
        if (!genuine) {
            continue;
        }
        const auto reading = [&](const NeighbourReading& entry) {
            auto full = routerReading(known.router, entry.linkAddress);
            full.state = entry.state;
            return full;
        };
        const auto& suspect = known.watch.suspect();
        neighbours.push_back(
            {routerKey(known.router), &known.watch, reading(*genuine),
             suspect ? std::optional(reading(*suspect)) : std::nullopt,
             known.present ? std::optional(reading(routerEntry(known.router))) : std::nullopt,
             target_});
    }
    return neighbours;
}

bool EvidenceRecorder::answered(const std::string& key, const Reply& reply) {
    if (armed_ && watch_.baseline() && key == nextHopKey(*watch_.baseline())) {
        const auto suspect = watch_.suspect();
        const auto outcome = watch_.answered(reply.asked, reply.linkAddress, reply.answer);
        return suspect && recordOutcome(outcome, *suspect) == WatchOutcome::attack;
    }
    for (const auto& known : routers_.known()) {
        if (routerKey(known.router) == key) {
            const auto router = known.router;
            recordRouters(routers_.answered(router, reply.asked, reply.linkAddress, reply.answer));
            return takeRouterAttack();
        }
    }
    return false;
}

std::optional<std::string> EvidenceRecorder::holderOf(const NeighbourReading& reading) const {
    if (!settings_.holder) {
        return std::nullopt;
    }
    const auto holder =
        settings_.holder(reading.interfaceIndex, reading.nextHop, reading.linkAddress);
    return holder ? std::optional(dottedText(*holder)) : std::nullopt;
}

WatchOutcome EvidenceRecorder::recordOutcome(WatchOutcome outcome,
                                             const NeighbourReading& reading) {
    if (outcome == WatchOutcome::attack) {
        if (attacked_) {
            attacked_(false);
        }
        const auto& baseline = watch_.baseline();
        record({target_, baseline, reading, Verdict::changed, holderOf(reading)});
    } else if (outcome == WatchOutcome::moved) {
        record({target_, watch_.previousBaseline(), reading, Verdict::moved, std::nullopt, false,
                watch_.baselineProven()});
    } else if (outcome == WatchOutcome::baseline) {
        record({target_, reading, reading, Verdict::watching, std::nullopt});
    }
    return outcome;
}

void EvidenceRecorder::answered(const std::string& probed) {
    if (watching_) {
        return; // the tick's read and the notifications follow the entry
    }
    if (const auto reading = read(probed); reading && !reading->local) {
        const auto& baseline = watch_.baseline();
        if (!baseline || baseline->nextHop != reading->nextHop) {
            watch_.arm(false);
            watch_.observe(*reading);
        }
    }
}

bool EvidenceRecorder::failed(const std::string& probed) {
    // Notifications that came in while the probe was out have mostly been taken as they came;
    // the last of them may still wait behind the outcome.
    catchUp();
    auto now = read(probed);
    if (!now) {
        return false;
    }
    if (watching_) {
        const auto outcome = observe(*now);
        if (outcome == WatchOutcome::attack || outcome == WatchOutcome::moved) {
            return true; // recorded as the attack or move it is
        }
    }
    // The entry as it was while the probe was out, if a flush has emptied it since.
    if (now->linkAddress.empty() && watch_.baselineSeenThisTick() &&
        watch_.baselineSeenThisTick()->nextHop == now->nextHop) {
        now = watch_.baselineSeenThisTick();
    }
    const auto& baseline = watch_.baseline();
    const Verdict verdict = evidenceVerdict(baseline, *now);
    record({probed, baseline, *now, verdict,
            verdict == Verdict::changed ? holderOf(*now) : std::nullopt});
    return true;
}

void EvidenceRecorder::record(EvidenceRecord record) {
    const std::string time = settings_.isoTime();
    const std::string line = evidenceLine(time, record);
    if (const auto said = recordReport(record); !said.empty()) {
        report(said);
    }
    const auto path = settings_.logDirectory / kEvidenceLogName;
    if (const int error = os::appendInOneWrite(path, line, settings_.ownerOnly)) {
        report("cannot append to " + os::pathText(path) + ": " + os::errorText(error));
    }
    if (settings_.interfaceName && settings_.interfaceAddress) {
        const int index = record.now.interfaceIndex;
        const auto json =
            evidenceJson(time, record,
                         {settings_.host, settings_.user, settings_.interfaceName(index),
                          settings_.interfaceAddress(index)});
        const auto jsonPath = settings_.logDirectory / kEvidenceJsonName;
        const int error =
            os::appendRotated(jsonPath, json, kEvidenceJsonLimit, settings_.ownerOnly);
        if (error != 0 && !std::exchange(jsonFailureSaid_, true)) {
            report("cannot append to " + os::pathText(jsonPath) + ": " + os::errorText(error));
        }
    }
    if (settings_.systemLog) {
        settings_.systemLog(line, record.verdict);
    }
    if (recorded_) {
        recorded_(record);
    }
}

} // namespace tarnvik

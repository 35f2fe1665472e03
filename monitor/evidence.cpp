// SPDX-License-Identifier: MIT
#include "evidence.h"
#include "ip_text.h"
#include "system.h"

#include <vector>

namespace tarnvik {

namespace {

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

} // namespace

Verdict evidenceVerdict(const std::optional<NeighbourReading>& baseline,
                        const NeighbourReading& now) {
    if (now.local) {
        return Verdict::local;
    }
    // After a route change the two readings are of different routers: nothing to compare.
    if (!baseline || baseline->linkAddress.empty() || baseline->local ||
        baseline->nextHop != now.nextHop) {
        return Verdict::unknown;
    }
    if (now.linkAddress.empty()) {
        return Verdict::unresolved;
    }
    return now.linkAddress == baseline->linkAddress ? Verdict::unchanged : Verdict::changed;
}

std::string evidenceLine(const std::string& isoTime, const EvidenceRecord& record) {
    const bool local = record.now.local;
    return isoTime + '\t' + record.probed + '\t' + (local ? "-" : dottedText(record.now.nextHop)) +
           '\t' + (record.baseline ? orDash(record.baseline->linkAddress) : "-") + '\t' +
           orDash(record.now.linkAddress) + '\t' + (local ? "-" : record.now.state) + '\t' +
           verdictName(record.verdict) + '\t' +
           (record.attacker ? dottedText(*record.attacker) : "-") + '\n';
}

EvidenceRecorder::EvidenceRecorder(EvidenceSettings settings)
    : settings_(std::move(settings)), watch_(settings_.ask != nullptr) {
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
}

void EvidenceRecorder::stopWatching() {
    watching_ = false;
    follow(std::nullopt);
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

bool EvidenceRecorder::questionAnswered(bool baselineAnswered, bool otherAnswered) {
    const auto suspect = watch_.suspect();
    const auto outcome = watch_.answered(baselineAnswered, otherAnswered);
    return suspect && recordOutcome(outcome, *suspect) == WatchOutcome::attack;
}

WatchOutcome EvidenceRecorder::recordOutcome(WatchOutcome outcome,
                                             const NeighbourReading& reading) {
    if (outcome == WatchOutcome::attack) {
        const auto& baseline = watch_.baseline();
        record({target_, baseline, reading, Verdict::changed,
                settings_.holder
                    ? settings_.holder(reading.interfaceIndex, reading.nextHop, reading.linkAddress)
                    : std::nullopt});
    } else if (outcome == WatchOutcome::moved) {
        record({target_, watch_.previousBaseline(), reading, Verdict::moved, std::nullopt});
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
    std::optional<Ipv4Value> attacker;
    if (verdict == Verdict::changed && settings_.holder) {
        attacker = settings_.holder(now->interfaceIndex, now->nextHop, now->linkAddress);
    }
    record({probed, baseline, *now, verdict, attacker});
    return true;
}

void EvidenceRecorder::record(EvidenceRecord record) {
    const std::string line = evidenceLine(settings_.isoTime(), record);
    const std::string hop = dottedText(record.now.nextHop);
    const std::string was = record.baseline ? record.baseline->linkAddress : "";
    if (record.verdict == Verdict::changed) {
        report("next hop " + hop + " changed from " + was + " to " + record.now.linkAddress +
               (record.attacker ? ", held by " + dottedText(*record.attacker) : ""));
    } else if (record.verdict == Verdict::announced) {
        report(record.now.state == "started"
                   ? "told " + hop + " our address " + record.now.linkAddress +
                         " while the attack goes on"
                   : "the attack on " + hop + " is over: no longer telling it our address");
    } else if (record.verdict == Verdict::moved) {
        report("next hop " + hop + " moved from " + was + " to " + record.now.linkAddress +
               (watch_.baselineProven() ? ": the old address does not answer and the new one does"
                                        : ": the old address stayed away through repairs for " +
                                              std::to_string(kTicksAbsentForAMove) + " s") +
               "; the new one is taken as genuine from now on");
    }
    const auto path = settings_.logDirectory / kEvidenceLogName;
    if (const int error = os::appendInOneWrite(path, line, settings_.ownerOnly)) {
        report("cannot append to " + os::pathText(path) + ": " + os::errorText(error));
    }
    if (settings_.systemLog) {
        settings_.systemLog(line, record.verdict);
    }
    if (recorded_) {
        recorded_(record);
    }
}

} // namespace tarnvik

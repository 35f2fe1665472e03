// SPDX-License-Identifier: MIT
#include "watch.h"

namespace tarnvik {

void NextHopWatch::arm(bool proven) {
    const bool canAsk = canAsk_;
    *this = NextHopWatch{};
    canAsk_ = canAsk;
    proven_ = proven;
}

void NextHopWatch::beginTick() {
    ++ticksSinceRepair_;
    ++ticksSinceSuspect_;
    attackedThisTick_ = false;
    baselineThisTick_.reset();
}

void NextHopWatch::repaired() {
    repairedSinceSuspect_ = suspect_.has_value();
    absentSinceRepair_ = false;
    ticksSinceRepair_ = 0;
}

WatchOutcome NextHopWatch::observe(const NeighbourReading& reading) {
    if (reading.local) {
        return WatchOutcome::nothing;
    }
    if (baseline_ && reading.nextHop != baseline_->nextHop) {
        // Another router, or another target: never compared, it is flushed and armed afresh.
        return WatchOutcome::nothing;
    }
    if (reading.linkAddress.empty()) {
        absentSinceRepair_ = true;
        return WatchOutcome::nothing;
    }
    if (!baseline_) {
        baseline_ = reading;
        baselineThisTick_ = reading;
        return WatchOutcome::baseline;
    }
    if (reading.linkAddress == baseline_->linkAddress) {
        baselineThisTick_ = reading;
        baselineSinceSuspect_ = suspect_.has_value();
        return WatchOutcome::nothing;
    }
    if (suspect_ == reading.linkAddress && !baselineSinceSuspect_) {
        suspectReading_ = reading;
        if (attackProven_) {
            // The genuine device answered while this address held the entry: an attack for as
            // long as it lasts.
            return attackedThisTick_ ? WatchOutcome::nothing : attack();
        }
        // The same other address: still this episode, unless it has outlasted a repair's
        // flush (seen gone, or two ticks on) with the genuine one never learnt again.
        if (!repairedSinceSuspect_ || !(absentSinceRepair_ || ticksSinceRepair_ >= 2)) {
            return WatchOutcome::nothing;
        }
        if (canAsk_) {
            if (questionOpen_) {
                return WatchOutcome::nothing;
            }
            questionOpen_ = true;
            return WatchOutcome::question;
        }
        // Nobody to ask: the genuine address must stay away long enough.
        return ticksSinceSuspect_ >= kTicksAbsentForAMove ? move(false) : WatchOutcome::nothing;
    }
    if (attackedThisTick_) {
        return WatchOutcome::nothing;
    }
    confirmed_ = confirmed_ || (suspect_ == reading.linkAddress && baselineSinceSuspect_);
    if (suspect_ != reading.linkAddress) {
        attackProven_ = false;
        questionOpen_ = false;
        ticksSinceSuspect_ = 0;
    }
    suspect_ = reading.linkAddress;
    suspectReading_ = reading;
    baselineSinceSuspect_ = false;
    return attack();
}

WatchOutcome NextHopWatch::attack() {
    repairedSinceSuspect_ = false;
    attackedThisTick_ = true;
    return WatchOutcome::attack;
}

WatchOutcome NextHopWatch::move(bool proven) {
    previous_ = baseline_;
    baseline_ = suspectReading_;
    // Taken over because nothing else came back, it is no proof; a silent genuine device and an
    // answering new one are.
    proven_ = proven;
    suspect_.reset();
    questionOpen_ = false;
    return WatchOutcome::moved;
}

WatchOutcome NextHopWatch::answered(bool baselineAnswered, bool otherAnswered) {
    if (!questionOpen_ || !suspect_) {
        return WatchOutcome::nothing;
    }
    questionOpen_ = false;
    if (baselineAnswered) {
        attackProven_ = true;
        confirmed_ = true;
        return attackedThisTick_ ? WatchOutcome::nothing : attack();
    }
    if (otherAnswered) {
        return move(true);
    }
    // Neither answered: asked again after the next repair.
    repairedSinceSuspect_ = false;
    return WatchOutcome::nothing;
}

} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "watch.h"

namespace tarnvik {

void NextHopWatch::arm(bool proven) {
    *this = NextHopWatch{};
    proven_ = proven;
}

void NextHopWatch::beginTick() {
    ++ticksSinceRepair_;
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
        // The same other address: still this episode, unless it has outlasted a repair's
        // flush (seen gone, or two ticks on) with the genuine one never learnt again.
        if (repairedSinceSuspect_ && (absentSinceRepair_ || ticksSinceRepair_ >= 2)) {
            previous_ = baseline_;
            baseline_ = reading;
            // Adopted because nothing else came back: not proof that it is genuine.
            proven_ = false;
            suspect_.reset();
            return WatchOutcome::moved;
        }
        return WatchOutcome::nothing;
    }
    if (attackedThisTick_) {
        return WatchOutcome::nothing;
    }
    confirmed_ = confirmed_ || (suspect_ == reading.linkAddress && baselineSinceSuspect_);
    suspect_ = reading.linkAddress;
    baselineSinceSuspect_ = false;
    repairedSinceSuspect_ = false;
    attackedThisTick_ = true;
    return WatchOutcome::attack;
}

} // namespace tarnvik

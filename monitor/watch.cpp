// SPDX-License-Identifier: MIT
#include "watch.h"

#include <utility>

namespace tarnvik {

void NeighbourWatch::arm(bool proven) {
    *this = NeighbourWatch{canAsk_};
    proven_ = proven;
}

void NeighbourWatch::beginTick() {
    ++ticksSinceRepair_;
    ++ticksSinceSuspect_;
    attackedThisTick_ = false;
    baselineThisTick_.reset();
    for (auto* count : {&ticksSinceAsked_, &silentFor_}) {
        if (*count) {
            ++**count;
        }
    }
}

void NeighbourWatch::repaired() {
    repairedSinceSuspect_ = suspect_.has_value();
    absentSinceRepair_ = false;
    ticksSinceRepair_ = 0;
}

WatchOutcome NeighbourWatch::observe(const NeighbourReading& reading) {
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
        otherHolds_ = false;
        endQuestions(); // the genuine device is back: nothing to ask it
        return WatchOutcome::nothing;
    }
    otherHolds_ = true;
    if (suspect_ == reading.linkAddress && !baselineSinceSuspect_) {
        suspectReading_ = reading;
        return stays();
    }
    if (attackedThisTick_) {
        return WatchOutcome::nothing;
    }
    confirmed_ = confirmed_ || (suspect_ == reading.linkAddress && baselineSinceSuspect_);
    if (suspect_ != reading.linkAddress) {
        attackProven_ = false;
        endQuestions();
        ticksSinceSuspect_ = 0;
    }
    suspect_ = reading.linkAddress;
    suspectReading_ = reading;
    baselineSinceSuspect_ = false;
    return attack();
}

WatchOutcome NeighbourWatch::stays() {
    if (attackProven_) {
        // The genuine device answered while this address held the entry: an attack for as long
        // as it lasts (and the genuine device is asked again meanwhile).
        return attackedThisTick_ ? WatchOutcome::nothing : attack();
    }
    // Still this episode, unless it has outlasted a repair's flush (seen gone, or two ticks on)
    // with the genuine one never learnt again.
    if (!repairedSinceSuspect_ || !(absentSinceRepair_ || ticksSinceRepair_ >= 2)) {
        return WatchOutcome::nothing;
    }
    if (canAsk_) {
        return std::exchange(questioning_, true) ? WatchOutcome::nothing : WatchOutcome::question;
    }
    // Nobody to ask: the genuine address must stay away long enough.
    return ticksSinceSuspect_ >= kTicksAbsentForAMove ? move(false) : WatchOutcome::nothing;
}

WatchOutcome NeighbourWatch::attack() {
    repairedSinceSuspect_ = false;
    attackedThisTick_ = true;
    return WatchOutcome::attack;
}

WatchOutcome NeighbourWatch::move(bool proven) {
    previous_ = baseline_;
    baseline_ = suspectReading_;
    // Taken over because nothing else came back, it is no proof; a genuine device silent to
    // every question for 30 s and an answering new one are.
    proven_ = proven;
    suspect_.reset();
    attackProven_ = false;
    confirmed_ = false;
    otherHolds_ = false;
    endQuestions();
    return WatchOutcome::moved;
}

void NeighbourWatch::endQuestions() {
    questioning_ = false;
    ticksSinceAsked_.reset();
    silentFor_.reset();
    otherDue_ = false;
}

std::optional<Asked> NeighbourWatch::questionDue() const {
    if (!questioning_ || !suspect_ || !baseline_) {
        return std::nullopt;
    }
    if (otherDue_) {
        return Asked::other;
    }
    if (!ticksSinceAsked_ || *ticksSinceAsked_ >= kTicksBetweenQuestions) {
        return Asked::genuine;
    }
    return std::nullopt;
}

void NeighbourWatch::asking(Asked /*asked*/) {
    ticksSinceAsked_ = 0;
}

WatchOutcome NeighbourWatch::answered(Asked asked, const std::string& linkAddress, Answer answer) {
    const auto& now = asked == Asked::genuine ? baseline_ : suspectReading_;
    if (!questioning_ || !suspect_ || !now || now->linkAddress != linkAddress) {
        return WatchOutcome::nothing;
    }
    if (answer == Answer::failed) {
        ticksSinceAsked_ = kTicksBetweenQuestions - 2; // asked again two ticks on
        return WatchOutcome::nothing;
    }
    const bool answeredNow = answer == Answer::answered;
    if (asked == Asked::other) {
        // Only after the genuine address's long silence is the other's answer a move.
        if (answeredNow && std::exchange(otherDue_, false)) {
            return move(true);
        }
        otherDue_ = false;
        silentFor_.reset(); // nobody answers: the genuine address is asked from the start
        return WatchOutcome::nothing;
    }
    if (answeredNow) {
        silentFor_.reset();
        otherDue_ = false;
        attackProven_ = true;
        confirmed_ = true;
        return attackedThisTick_ ? WatchOutcome::nothing : attack();
    }
    if (!silentFor_) {
        silentFor_ = 0;
    }
    otherDue_ = *silentFor_ >= kTicksAbsentForAMove;
    return WatchOutcome::nothing;
}

} // namespace tarnvik

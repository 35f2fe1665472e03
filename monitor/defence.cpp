// SPDX-License-Identifier: MIT
#include "defence.h"

#include <algorithm>
#include <utility>

namespace tarnvik {

namespace {

// "IPv6 router fe80::1%eth0" or "198.18.0.1": the neighbour as the reports name it.
std::string named(const NeighbourReading& reading) {
    return (reading.ipv6.empty() ? "" : "IPv6 router ") + hopText(reading);
}

} // namespace

Defence::Defence(const DefenceSettings& settings, std::string key, const std::string& recordKind)
    : settings_(settings), key_(std::move(key)) {
    if (settings_.guard) {
        records_.emplace(settings_.guard->records, settings_.ownerOnly, recordKind);
    }
    if (settings_.announce) {
        announcer_.emplace(*settings_.announce, settings_.note, settings_.reportFailure);
    }
}

std::optional<Reply> Defence::collect() {
    if (!finished(pending_)) {
        return std::nullopt;
    }
    const auto outcome = pending_.get();
    auto reply = *std::exchange(asking_, std::nullopt);
    const bool silent = outcome.error == 0 && !outcome.timedOut && outcome.exitStatus == 3;
    reply.answer = outcome.succeeded() ? Answer::answered
                   : silent            ? Answer::silent
                                       : Answer::failed;
    if (reply.answer == Answer::failed && !std::exchange(questionFailureSaid_, true)) {
        settings_.reportFailure("cannot ask whether " + key_ +
                                " still answers: " + os::outcomeText(outcome));
    }
    return reply;
}

void Defence::ask(const DefendedNeighbour& neighbour) {
    if (!settings_.ask || pending_.valid() || !neighbour.watch || !neighbour.now) {
        return;
    }
    const auto due = neighbour.watch->questionDue();
    const auto& asked = due == Asked::genuine ? neighbour.genuine : neighbour.suspect;
    if (!due || !asked) {
        return;
    }
    neighbour.watch->asking(*due);
    asking_ = Reply{*due, asked->linkAddress, Answer::failed};
    pending_ = std::async(settings_.background, settings_.ask, *asked);
}

bool Defence::holdDue(const DefendedNeighbour& neighbour) const {
    if (!settings_.guard || !settings_.guard->holds || held_ || !neighbour.watch) {
        return false;
    }
    const auto& watch = *neighbour.watch;
    return pendingHold_.valid() ||
           (watch.confirmed() && watch.baselineProven() && ticksUntilRetry_ == 0);
}

// Only an address learnt right after a flush is held, never one taken over because nothing else
// came back. A failed hold is said once and tried again after 1, 2, 4 ... ticks, at most a
// minute apart.
void Defence::guard(const DefendedNeighbour& neighbour, bool fromTick) {
    if (!settings_.guard || !settings_.guard->holds) {
        return;
    }
    probed_ = neighbour.probed;
    settleHold();
    if (pendingHold_.valid() || releasing_.valid() || !neighbour.watch) {
        return; // hold and release never overlap
    }
    if (fromTick && ticksUntilRetry_ > 0) {
        --ticksUntilRetry_;
    }
    const auto& watch = *neighbour.watch;
    const auto& now = neighbour.now;
    // Windows' arp -d and netsh ... delete neighbors may remove a static entry.
    const bool lost = held_ && now && hopText(*now) == hopText(*held_) &&
                      (now->state != "PERMANENT" || now->linkAddress != held_->linkAddress);
    if ((held_ && !lost) || !watch.confirmed() || !watch.baselineProven() || ticksUntilRetry_ > 0 ||
        !neighbour.genuine) {
        return;
    }
    holding_ = held_ ? *held_ : *neighbour.genuine;
    // Recorded before it is made: a copy killed at any moment leaves no hold unrecorded.
    if (const int error = records_->write(*holding_)) {
        holdFailed("cannot record the hold of " + named(*holding_) +
                   ", so none is made: " + os::errorText(error));
        return;
    }
    pendingHold_ = std::async(settings_.background, settings_.guard->hold, *holding_);
    settleHold();
}

void Defence::holdFailed(const std::string& line, bool keepRecord) {
    holding_.reset();
    if (!held_ && !keepRecord) {
        records_->erase();
    }
    if (holdFailures_++ == 0) {
        settings_.reportFailure(line);
    }
    ticksUntilRetry_ = std::min(1 << std::min(holdFailures_ - 1, 6), 60);
}

// A release ends: of a hold made (said and recorded, its record gone; a failure keeps the record
// for the next start), or of what a hold that timed out may have made.
void Defence::settleRelease() {
    if (!finished(releasing_)) {
        return;
    }
    const auto outcome = releasing_.get();
    const auto released = *std::exchange(released_, std::nullopt);
    if (!releasedWasMade_) {
        if (outcome.succeeded() && !held_) {
            records_->erase();
        }
        return;
    }
    if (!outcome.succeeded()) {
        settings_.reportFailure("cannot release the hold of " + named(released) + ": " +
                                os::outcomeText(outcome));
        return;
    }
    records_->erase();
    noteHold(released, false);
}

void Defence::release(const NeighbourReading& entry, bool made) {
    released_ = entry;
    releasedWasMade_ = made;
    releasing_ = std::async(settings_.background, settings_.guard->release, entry);
}

void Defence::settleHold() {
    settleRelease();
    if (!finished(pendingHold_)) {
        return;
    }
    const auto outcome = pendingHold_.get();
    const auto genuine = *holding_;
    if (outcome.timedOut && !held_) {
        // Ended at its deadline, it may have made the entry first: that entry is released (the
        // helper removes it only if it is ours), and its record stays until then.
        release(genuine, false);
    }
    if (!outcome.succeeded()) {
        holdFailed("cannot hold " + named(genuine) + " at " + genuine.linkAddress + ": " +
                       os::outcomeText(outcome),
                   outcome.timedOut && !held_);
        return;
    }
    holding_.reset();
    holdFailures_ = 0;
    if (!std::exchange(held_, genuine)) {
        noteHold(genuine, true);
    }
    if (announcer_) {
        announcer_->held(true);
    }
}

void Defence::noteHold(const NeighbourReading& genuine, bool held) {
    NeighbourReading now = genuine;
    now.state = held ? "PERMANENT" : "none";
    if (held) {
        settings_.report("holding " + named(genuine) + " at " + genuine.linkAddress +
                         " as a static entry while the attack goes on");
    } else {
        settings_.report("released the hold of " + named(genuine) + " at " + genuine.linkAddress);
        now.linkAddress.clear();
    }
    settings_.note({probed_, genuine, now, held ? Verdict::held : Verdict::released, std::nullopt});
}

void Defence::sign(const DefendedNeighbour& neighbour, bool attacked) {
    probed_ = neighbour.probed;
    if (announcer_ && neighbour.genuine && neighbour.watch &&
        (attacked || (neighbour.now && neighbour.watch->otherHolds()))) {
        announcer_->sign(*neighbour.genuine, neighbour.probed);
    }
}

// Hold and release never overlap: a hold on its way ends first. Nothing here waits.
bool Defence::windDown() {
    if (announcer_) {
        announcer_->stop();
        (void)announcer_->tick(); // collects a send still out, if it is back
    }
    if (finished(pending_)) {
        pending_.get(); // a question's answer: nobody asks any more
    }
    settleHold();
    settleRelease();
    if (pendingHold_.valid() || releasing_.valid()) {
        return false;
    }
    if (held_ && settings_.guard) {
        if (announcer_) {
            announcer_->held(false);
        }
        release(*std::exchange(held_, std::nullopt), true);
        settleRelease();
        return !releasing_.valid() && !pending_.valid() && !(announcer_ && announcer_->sending());
    }
    return !pending_.valid() && !(announcer_ && announcer_->sending());
}

} // namespace tarnvik

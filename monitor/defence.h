// SPDX-License-Identifier: MIT
// The defence of one neighbour (the IPv4 next hop, or one IPv6 default router; which one is
// data, never a second path): the questions to its genuine address, the hold of its genuine
// entry with that hold's record and retry pace, and the announcements of our own address to it.
// Its watch (watch.h) lives with the evidence, which reads and records it; each tick the defence
// is handed the neighbour as the evidence knows it.
#pragma once

#include "announce.h"
#include "evidence.h"
#include "holds.h"
#include "system.h"
#include "watch.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>

namespace tarnvik {

// The guard (opt-in): once an attack is confirmed, a neighbour's genuine address is held as a
// static entry, so that forged replies no longer take, until monitoring stops. Every start, with
// or without it, releases the holds that a copy which no longer runs left behind.
struct GuardSettings {
    // Holds `genuine` for its neighbour on its interface, run to its end.
    std::function<os::RunOutcome(const NeighbourReading& genuine)> hold;
    // Releases our hold of that address on its interface, run to its end.
    std::function<os::RunOutcome(const NeighbourReading& held)> release;
    // Where each running copy records what it holds; empty, nothing is recorded.
    std::filesystem::path records;
    // Started with --guard: holds are made.
    bool holds = false;
    // Why holds cannot be made here, with the remedy; said once at start with --guard.
    Words unusable;
};

// How long the helpers that are run to their end may take: they take milliseconds.
inline constexpr std::chrono::milliseconds kHelperDeadline{2000};

// A helper's outcome has come back (a deferred one, as tests run them, is run now by get()).
template <typename Future> bool finished(const Future& pending) {
    return pending.valid() &&
           pending.wait_for(std::chrono::seconds(0)) != std::future_status::timeout;
}

// What every defence shares.
struct DefenceSettings {
    // Asks a link-layer address whether it answers for its neighbour's address, run to its end:
    // 0 answered, 3 silent. None where nobody can ask.
    std::function<os::RunOutcome(const NeighbourReading& asked)> ask;
    // The guard; none, nothing is held.
    const GuardSettings* guard = nullptr;
    // Telling an attacked neighbour our address; none, nothing is told.
    const AnnounceSettings* announce = nullptr;
    std::launch background = std::launch::async;
    bool ownerOnly = false;
    // A failure to report (once where it would repeat).
    std::function<void(const std::string&)> reportFailure;
    std::function<void(const std::string&)> report;
    // Writes an evidence record that is no reading's (a hold, an announcement).
    std::function<void(const EvidenceRecord&)> note;
};

class Defence {
  public:
    // `recordKind` tells this neighbour's hold record apart from the others' of this copy.
    Defence(const DefenceSettings& settings, std::string key, const std::string& recordKind);
    Defence(const Defence&) = delete;
    Defence& operator=(const Defence&) = delete;

    const std::string& key() const { return key_; }

    // The answer to this neighbour's question, once it has come in.
    std::optional<Reply> collect();
    // Puts the question the watch has due, if none is on its way.
    void ask(const DefendedNeighbour& neighbour);
    // Holds the genuine entry once the attack is confirmed, and again when the table no longer
    // shows the hold. `fromTick`: a tick passed (the retry pace counts ticks).
    void guard(const DefendedNeighbour& neighbour, bool fromTick);
    // A hold is on its way or due now: it replaces the poisoned entry, so no flush goes first.
    bool holdDue(const DefendedNeighbour& neighbour) const;
    // A sign that the attack goes on (an attack now, or the other address still in the entry).
    void sign(const DefendedNeighbour& neighbour, bool attacked);
    // The announcement timer; whether it is still wanted.
    bool announceTick() { return announcer_ && announcer_->tick(); }
    bool announcing() const { return announcer_ && announcer_->announcing(); }
    // Monitoring stops: the announcements end and the hold is released (its record stays where
    // that fails, for the next start), all off the window's thread. Called again until it says
    // that nothing is left out.
    bool windDown();

  private:
    void settleHold();
    void settleRelease();
    void release(const NeighbourReading& entry, bool made);
    // `keepRecord`: a release of what the hold may have made is on its way, and needs it.
    void holdFailed(const std::string& line, bool keepRecord = false);
    void noteHold(const NeighbourReading& genuine, bool held);

    const DefenceSettings& settings_;
    std::string key_;
    std::optional<HoldRecords> records_;
    std::optional<Announcer> announcer_;
    // The question on its way, and what it asked.
    std::future<os::RunOutcome> pending_;
    std::optional<Reply> asking_;
    bool questionFailureSaid_ = false;
    // The hold: made, or on its way.
    std::optional<NeighbourReading> held_, holding_;
    std::future<os::RunOutcome> pendingHold_;
    // A release on its way: of the hold made, or of what a hold that timed out may have made.
    std::future<os::RunOutcome> releasing_;
    std::optional<NeighbourReading> released_;
    bool releasedWasMade_ = false;
    int holdFailures_ = 0;
    int ticksUntilRetry_ = 0;
    // The probed target, for the records this defence writes.
    std::string probed_;
};

} // namespace tarnvik

// SPDX-License-Identifier: MIT
// The watch over the next hop's neighbour entry while monitoring runs: which link-layer address
// is the genuine one (the baseline), and what each reading of the entry means beside it. Pure
// logic: readings come in from the tick's read and from the system's notifications.
//
// The baseline is the first address learnt after the flush that starts monitoring (a cache that
// was already poisoned is learnt afresh, and an unsolicited forged reply creates no entry). An
// address away from it is an attack, answered or not. After the repair's flush the kernel learns
// the entry again: when the baseline comes back and the other address returns (a flip-flop), the
// attack is confirmed; when the other address stays and the baseline is gone, the host or router
// was replaced (a move), and the new address becomes the baseline.
#pragma once

#include "neighbour.h"

#include <optional>
#include <string>

namespace tarnvik {

enum class WatchOutcome {
    nothing,
    baseline, // the genuine address is known from now on
    attack,   // a change away from the baseline: one attack per tick
    moved,    // the other address stayed through a repair: it is the baseline now
};

class NextHopWatch {
  public:
    // Monitoring starts, right after a flush: the first address learnt once the flush has
    // shown is the baseline.
    void restart();
    // A tick begins.
    void beginTick();
    // A repair's flush has been started.
    void repaired();
    // One reading of the target's next hop.
    WatchOutcome observe(const NeighbourReading& reading);

    const std::optional<NeighbourReading>& baseline() const { return baseline_; }
    // The baseline before the last move, for its evidence.
    const std::optional<NeighbourReading>& previousBaseline() const { return previous_; }
    // An attack was seen in this tick (its line and repair stand for the tick's failure too).
    bool attackedThisTick() const { return attackedThisTick_; }
    // A flip-flop was seen: the other address came back after the genuine one had been
    // learnt again.
    bool confirmed() const { return confirmed_; }
    // The baseline's reading if the entry held it at some moment of this tick.
    const std::optional<NeighbourReading>& baselineSeenThisTick() const {
        return baselineThisTick_;
    }

  private:
    std::optional<NeighbourReading> baseline_;
    std::optional<NeighbourReading> previous_;
    // After restart, until an absent entry shows that the flush has happened.
    bool awaitingFlush_ = false;
    std::optional<std::string> suspect_;
    bool baselineSinceSuspect_ = false;
    bool repairedSinceSuspect_ = false;
    bool absentSinceRepair_ = false;
    int ticksSinceRepair_ = 0;
    bool attackedThisTick_ = false;
    bool confirmed_ = false;
    std::optional<NeighbourReading> baselineThisTick_;
};

} // namespace tarnvik

// SPDX-License-Identifier: MIT
// The watch over the next hop's neighbour entry while monitoring runs: which link-layer address
// is the genuine one (the baseline), and what each reading of the entry means beside it. Pure
// logic: readings come in from the tick's read and from the system's notifications.
//
// The watch is armed right after a flush has ended (at the start of monitoring, and for each new
// next hop): the first address the entry holds from then on is the baseline, learnt afresh
// whatever the cache held before. Where the flush could not run the entry as it is becomes the
// baseline, unproven. An address away from it is an attack, answered or not. After the repair's
// flush the kernel learns the entry again: when the baseline comes back and the other address
// returns (a flip-flop), the attack is confirmed. When the other address stays, the baseline is
// asked directly: if it answers, the attack is confirmed and lasts as long as the other address
// does; only if it stays silent while the other answers was the host or router replaced (a
// move), and the new address becomes the baseline. An attacker that wins every re-resolution
// thus never becomes the baseline.
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
    question, // the other address stayed through a repair: ask the baseline whether it answers
};

// Where nobody can be asked, how long the genuine address must stay away for a move: 30 s.
inline constexpr int kTicksAbsentForAMove = 30;

class NextHopWatch {
  public:
    // Whether the baseline can be asked directly (a unicast ARP request to it). Without that, a
    // move needs the genuine address absent through repairs for kTicksAbsentForAMove ticks.
    explicit NextHopWatch(bool canAsk = false) : canAsk_(canAsk) {}

    // Forgets everything: the next address seen is the baseline. `proven` when a flush has just
    // ended, so that it is learnt afresh.
    void arm(bool proven);
    // A tick begins.
    void beginTick();
    // A repair's flush has been started.
    void repaired();
    // One reading of the target's next hop.
    WatchOutcome observe(const NeighbourReading& reading);
    // The answer to the open question: did the baseline answer, did the other address? The
    // baseline's answer makes it an attack however long it lasts; its silence while the other
    // answers makes it a move, proven. Until then the other address gives no further attack.
    WatchOutcome answered(bool baselineAnswered, bool otherAnswered);
    bool questionOpen() const { return questionOpen_; }
    // The other address as last read, while an episode goes on.
    const std::optional<NeighbourReading>& suspect() const { return suspectReading_; }

    const std::optional<NeighbourReading>& baseline() const { return baseline_; }
    // Learnt after a flush, never adopted passively: the only kind the guard may hold.
    bool baselineProven() const { return baseline_ && proven_; }
    // The baseline before the last move, for its evidence.
    const std::optional<NeighbourReading>& previousBaseline() const { return previous_; }
    // The genuine device answered while another address held the entry.
    bool attackProven() const { return attackProven_; }
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
    WatchOutcome attack();
    WatchOutcome move(bool proven);

    bool canAsk_ = false;
    std::optional<NeighbourReading> baseline_;
    std::optional<NeighbourReading> previous_;
    bool proven_ = false;
    std::optional<std::string> suspect_;
    std::optional<NeighbourReading> suspectReading_;
    bool questionOpen_ = false;
    bool attackProven_ = false;
    int ticksSinceSuspect_ = 0;
    bool baselineSinceSuspect_ = false;
    bool repairedSinceSuspect_ = false;
    bool absentSinceRepair_ = false;
    int ticksSinceRepair_ = 0;
    bool attackedThisTick_ = false;
    bool confirmed_ = false;
    std::optional<NeighbourReading> baselineThisTick_;
};

} // namespace tarnvik

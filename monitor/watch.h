// SPDX-License-Identifier: MIT
// The watch over one neighbour's entry while monitoring runs (the IPv4 next hop, or one IPv6
// default router: the same rules for both): which link-layer address is the genuine one (the
// baseline), and what each reading of the entry means beside it. Pure logic: readings come in
// from the tick's read and from the system's notifications.
//
// The watch is armed right after a flush has ended (at the start of monitoring, and for each new
// next hop): the first address the entry holds from then on is the baseline, learnt afresh
// whatever the cache held before. Where the flush could not run the entry as it is becomes the
// baseline, unproven. An address away from it is an attack, answered or not. After the repair's
// flush the kernel learns the entry again: when the baseline comes back and the other address
// returns (a flip-flop), the attack is confirmed. When the other address stays, the baseline is
// asked directly, again and again while the other address stays: each answer proves the attack.
// Only when the baseline has stayed silent to every question for kTicksAbsentForAMove ticks and
// the other address then answers was the host or router replaced (a move), and the new address
// becomes the baseline. So no single answer or silence decides: an attacker that wins every
// re-resolution never becomes the baseline unless it silences the genuine device for 30 s, all
// of which is an attack episode.
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
    question, // the other address stayed through a repair: the baseline is asked from now on
};

// How long the genuine address must stay away (nobody can ask) or silent (to every question) for
// a move: 30 s.
inline constexpr int kTicksAbsentForAMove = 30;
// How often the genuine address is asked while the other one stays, answered or not.
inline constexpr int kTicksBetweenQuestions = 5;

// Which address a question goes to.
enum class Asked { genuine, other };
// What became of a question: an answer, silence, or the question could not be put.
enum class Answer { answered, silent, failed };
// One question's outcome: which address was asked, about which link-layer address.
struct Reply {
    Asked asked = Asked::genuine;
    std::string linkAddress;
    Answer answer = Answer::failed;
};

class NeighbourWatch {
  public:
    // Whether the baseline can be asked directly (a unicast ARP request or neighbour
    // solicitation to it). Without that, a move needs the genuine address absent through
    // repairs for kTicksAbsentForAMove ticks.
    explicit NeighbourWatch(bool canAsk = false) : canAsk_(canAsk) {}

    // Forgets everything: the next address seen is the baseline. `proven` when a flush has just
    // ended, so that it is learnt afresh.
    void arm(bool proven);
    // A tick begins.
    void beginTick();
    // A repair's flush has been started.
    void repaired();
    // One reading of the neighbour's entry.
    WatchOutcome observe(const NeighbourReading& reading);

    // The question due now, if any (the caller asks one at a time).
    std::optional<Asked> questionDue() const;
    // The question has been put.
    void asking(Asked asked);
    // What became of it: the baseline's answer makes it an attack (again); the other's answer
    // after the baseline's silence for kTicksAbsentForAMove ticks, a move, proven.
    // An answer about another address than `linkAddress` (the question's, which has changed
    // since) counts for nothing.
    WatchOutcome answered(Asked asked, const std::string& linkAddress, Answer answer);
    bool questionOpen() const { return questioning_; }
    // The other address as last read, while an episode goes on.
    const std::optional<NeighbourReading>& suspect() const { return suspectReading_; }
    // Another address than the baseline's held the entry at the last reading.
    bool otherHolds() const { return otherHolds_; }

    const std::optional<NeighbourReading>& baseline() const { return baseline_; }
    // Learnt after a flush, never adopted passively: the only kind the guard may hold.
    bool baselineProven() const { return baseline_ && proven_; }
    // The baseline before the last move, for its evidence.
    const std::optional<NeighbourReading>& previousBaseline() const { return previous_; }
    // The genuine device answered while another address held the entry.
    bool attackProven() const { return attackProven_; }
    // An attack was seen in this tick (its line and repair stand for the tick's failure too).
    bool attackedThisTick() const { return attackedThisTick_; }
    // A flip-flop was seen (the other address came back after the genuine one had been learnt
    // again), or the genuine device answered while the other address held the entry.
    bool confirmed() const { return confirmed_; }
    // The baseline's reading if the entry held it at some moment of this tick.
    const std::optional<NeighbourReading>& baselineSeenThisTick() const {
        return baselineThisTick_;
    }

  private:
    WatchOutcome attack();
    WatchOutcome move(bool proven);
    // The other address is still there: a question, a move or (proven) the attack again.
    WatchOutcome stays();
    void endQuestions();

    bool canAsk_ = false;
    std::optional<NeighbourReading> baseline_;
    std::optional<NeighbourReading> previous_;
    bool proven_ = false;
    std::optional<std::string> suspect_;
    std::optional<NeighbourReading> suspectReading_;
    bool otherHolds_ = false;
    bool attackProven_ = false;
    int ticksSinceSuspect_ = 0;
    bool baselineSinceSuspect_ = false;
    bool repairedSinceSuspect_ = false;
    bool absentSinceRepair_ = false;
    int ticksSinceRepair_ = 0;
    bool attackedThisTick_ = false;
    bool confirmed_ = false;
    std::optional<NeighbourReading> baselineThisTick_;
    // The questions of this episode: ticks since the last one was put (none yet: unset), and
    // since the baseline's first silence with no answer after it (unset: not silent).
    bool questioning_ = false;
    std::optional<int> ticksSinceAsked_;
    std::optional<int> silentFor_;
    // The baseline stayed silent long enough: the other address is asked next.
    bool otherDue_ = false;
};

// The IPv4 next hop's watch: the same rules.
using NextHopWatch = NeighbourWatch;

} // namespace tarnvik

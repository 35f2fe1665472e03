// SPDX-License-Identifier: MIT
// What is told to the person at the desk, beyond the lamp: one notice per attack episode. A change
// of the next hop's address is told each time it happens, at most once a minute per target; a
// target that merely goes silent is told once when it has failed twice in a row and once when it
// has answered twice in a row again, each at most once a minute, so that a target that loses
// every other echo tells nothing. A replaced host or router (a move) is told when it is found.
#pragma once

#include "evidence.h"
#include "texts.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tarnvik {

struct Notice {
    std::string title; // names the target
    std::string body;  // what the evidence says, in one sentence
};

class AttackNotices {
  public:
    using Clock = std::chrono::steady_clock;

    // Told in the language of `translate` (English without one).
    explicit AttackNotices(std::function<void(const Notice&)> tell,
                           std::function<Clock::time_point()> now = Clock::now,
                           Translator translate = nullptr);

    // Each evidence line as it is written.
    void recorded(const EvidenceRecord& record);
    // A failed probe of `probed` that left no evidence line (no address to read the tables for).
    void failed(const std::string& probed);
    // A probe of `probed` was answered.
    void answered(const std::string& probed);

  private:
    void silent(const std::string& probed, const Words& body);
    void tell(const Words& title, const Words& body);
    std::string named(const std::string& probed) const;

    struct Target {
        bool silent = false;
        int failures = 0; // in a row
        int answers = 0;  // in a row
        std::optional<Clock::time_point> lastChange, lastSilent, lastAnswering;
    };
    // Whether a notice last told at `last` may be told again now; if so, now is the last.
    bool due(std::optional<Clock::time_point>& last);
    std::function<void(const Notice&)> tell_;
    std::function<Clock::time_point()> now_;
    Translator translate_;
    std::map<std::string, Target> targets_;
    std::optional<Clock::time_point> routersLastTold_;
};

// What an IPv6 router's record says, for the lamp and the notice: a change or a new router.
Words routerState(const EvidenceRecord& record);

} // namespace tarnvik

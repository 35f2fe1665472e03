// SPDX-License-Identifier: MIT
// The other direction of an attack: while the workstation's own entry for its next hop is
// poisoned, the attacker has poisoned the next hop's entry for the workstation too. During an
// attack the workstation tells its next hop, at the genuine link-layer address the watch holds,
// its own genuine mapping, often enough to win against forged replies: an ARP request for the
// next hop's address, unicast to it, which a Linux peer takes at once and then defends for a
// second. Only the truth, only to the next hop, only while an attack goes on: from its first sign
// until kAnnounceAfterLastSign after the last one (for as long as a hold is made, since a held
// entry shows no further sign), and never after monitoring stops.
#pragma once

#include "evidence.h"
#include "system.h"

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>

namespace tarnvik {

// How often an announcement goes out while an attack goes on: twice as often as an attacker
// that re-poisons every half second.
inline constexpr std::chrono::milliseconds kAnnounceInterval{250};
inline constexpr std::chrono::seconds kAnnounceAfterLastSign{30};

struct AnnounceSettings {
    using Clock = std::chrono::steady_clock;
    // Sends one announcement to `genuine` (the next hop at its genuine link-layer address), run
    // to its end.
    std::function<os::RunOutcome(const NeighbourReading& genuine)> send;
    // This machine's own link-layer address on an interface, as "02:00:00:00:00:01".
    std::function<std::string(int interfaceIndex)> ownLinkAddress;
    std::function<Clock::time_point()> now = Clock::now;
    // Where the sends run: off the window's thread; tests run them where they look.
    std::launch background = std::launch::async;
};

class Announcer {
  public:
    // `record` writes an evidence record (the start and the end of an episode's announcements);
    // `failed` is told once per episode that announcements cannot be sent.
    Announcer(AnnounceSettings settings, std::function<void(const EvidenceRecord&)> record,
              std::function<void(const std::string&)> failed);

    // A sign of an attack on the next hop whose genuine reading is `genuine`.
    void sign(const NeighbourReading& genuine, const std::string& probed);
    // Whether a hold is made: a held entry shows no sign, so announcements go on while it lasts.
    void held(bool made) { held_ = made; }
    // The announcement timer: sends one if an episode goes on, ends it when it is over. Returns
    // whether the episode still goes on (the timer is wanted).
    bool tick();
    // Monitoring stops: the episode ends now, without waiting for a send still out.
    void stop();
    bool announcing() const { return genuine_.has_value(); }
    // A send is still out (collected by a later tick, or waited for as the Announcer goes).
    bool sending() const { return sending_.valid(); }

  private:
    void end();

    AnnounceSettings settings_;
    std::function<void(const EvidenceRecord&)> record_;
    std::function<void(const std::string&)> failed_;
    std::optional<NeighbourReading> genuine_;
    std::string probed_;
    std::string own_;
    AnnounceSettings::Clock::time_point lastSign_{};
    bool held_ = false;
    bool failureSaid_ = false;
    // A send of this episode has gone out (one still out may be an ended episode's).
    bool sent_ = false;
    std::future<os::RunOutcome> sending_;
};

} // namespace tarnvik

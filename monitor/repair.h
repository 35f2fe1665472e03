// SPDX-License-Identifier: MIT
// The repair after a failed probe: one time-stamped line in the attack log, then the command
// that flushes the ARP cache, started and not awaited. The same on every operating system; what
// differs (where the log goes, which command, the locale's date forms) comes in its settings.
#pragma once

#include "announce.h"
#include "attack_log.h"
#include "defence.h"
#include "defences.h"
#include "evidence.h"
#include "holds.h"
#include "notices.h"
#include "system.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace tarnvik {

// What the repair takes from its surroundings; tests replace every part.
struct RepairSettings {
    std::filesystem::path logDirectory;
    std::vector<std::string> command;
    // The current local date and time in the general form of the user's locale, UTF-8.
    std::function<std::string()> dateTime;
    // Receives one line for each failure of a repair.
    std::function<void(const std::string&)> report;
    // Started with our own minimal environment, never through the user's search path.
    bool privileged = false;
    // The log directory is ours (the user's state directory): created when it is missing, and
    // it and the logs in it open to this user alone.
    bool createLogDirectory = false;
    // Where the evidence of each failed probe is read and kept; none, no evidence.
    std::optional<EvidenceSettings> evidence = std::nullopt;
    // Tells the person at the desk of each attack episode (a desktop notification); none, nothing
    // is told.
    std::function<void(const Notice&)> notify = nullptr;
    // The guard and the clean-up of earlier holds; none, nothing is ever held or released.
    std::optional<GuardSettings> guard = std::nullopt;
    // The system's own log: each attack's line and each failure of a repair.
    std::function<void(SystemRecord, const std::string&)> systemRecord = nullptr;
    // A hold and a question run off the window's thread; tests run them where their outcome is
    // looked at.
    std::launch background = std::launch::async;
    // What cannot work here, each with its remedy: shown with the lamp and told once.
    std::vector<Words> problems = {};
    // What the person at the desk is told (the lamp's tip, notifications) in the desktop's
    // language; none, English.
    Translator translate = nullptr;
    // Telling the next hop our genuine address while an attack goes on; none, nothing is told.
    std::optional<AnnounceSettings> announce = std::nullopt;
    // The command that flushes the learnt IPv6 neighbour entries, for an attack on this machine's
    // IPv6 routers (the evidence's readRouters watches them).
    std::vector<std::string> ipv6Command = {};
};

// This edition's guard: tarnvik-hold beside the program on Linux, arp -s / arp -d on Windows.
GuardSettings systemGuardSettings(const RepairSettings& settings);

// This machine's settings: the log beside the program or in the user's state directory, the
// command that flushes the ARP cache here, reports where the user can read them, and the local
// date and time in the user's locale as `localDateTime` gives them (the toolkit knows the
// locale's forms). Says once where the log goes when it is not beside the program.
RepairSettings systemRepairSettings(std::function<std::string()> localDateTime);

class RepairAction {
  public:
    explicit RepairAction(RepairSettings settings);
    RepairAction(const RepairAction&) = delete;
    RepairAction& operator=(const RepairAction&) = delete;
    // Releases a hold that is still made.
    ~RepairAction();

    // Appends the line and then starts the command. A log that cannot be written is reported and
    // the command starts all the same (the log is the record, the flush the remedy); a command
    // that cannot start leaves its line written. Either failure is reported and returns false;
    // nothing is thrown. A failed probe whose tick has already
    // seen the attack behind it has its line and repair in that attack's.
    bool run();

    // The outcome of a probe, for the evidence: an answered one outside monitoring notes the
    // entry when nothing else has; a failed one is read again inside the next run, after its
    // line and before the command.
    void answered(const std::string& probed);
    void failed(const std::string& probed);

    // Monitoring starts, or stops (a hold goes with it).
    void startWatching();
    void stopWatching();
    // A tick begins, before its probe: the next hop's entry is read; a change away from its
    // genuine address is an attack, repaired at once. A next hop not armed yet (the first tick,
    // a new route or target) is first flushed, waiting for the flush (no attack line for it), so
    // that its genuine address is learnt afresh. The guard's work is done here.
    void beginTick(const std::string& probed);
    // The system's notifications of neighbour entries: a descriptor that turns readable when
    // some have come in (-1 where there are none), and taking them.
    int neighbourEventDescriptor() const;
    void neighbourEventsReady();

    // The short timer (every kAnnounceInterval while announcing() holds): the announcements, and
    // what runs off the window's thread (a flush before a watch, the releases after Stop) is
    // taken in. Returns whether it is still wanted.
    bool announceTick();
    bool announcing() const;

    // The flush before the next hop's watch is armed, while it runs: the tick's probe goes out
    // after it (waited for off the window's thread), so that its resolution is learnt afresh.
    std::shared_future<os::RunOutcome> nextHopArming() const {
        return families_[0].armed ? std::shared_future<os::RunOutcome>{} : families_[0].arming;
    }

    // The watch, for what is shown and held beside the repair.
    const NextHopWatch* watch() const { return evidence_ ? &evidence_->watch() : nullptr; }
    // Called with each evidence record as it is written.
    void onRecord(std::function<void(const EvidenceRecord&)> recorded) {
        recorded_ = std::move(recorded);
    }
    // What cannot work here, each with its remedy; told once through the notices.
    const std::vector<Words>& problems() const { return settings_.problems; }
    const Translator& translate() const { return settings_.translate; }
    void tellProblems();

    std::filesystem::path logPath() const { return settings_.logDirectory / kAttackLogName; }

  private:
    void report(const std::string& line) const;
    void reportFailure(const std::string& line) const;
    bool appendLine();
    // Starts the flush of that family's learnt entries (IPv6: for an attack on a router).
    bool flush(bool ipv6);
    void flushBeforeArming(bool ipv6, const std::string& probed);
    void settleArming();
    // The attacks' lines and flushes first, then each neighbour's defence. `fromTick`: a tick
    // passed.
    void defend(bool nextHopAttacked, bool fromTick);
    // Tells the records written since (notices, the lamp): after the lines and flushes.
    void deliver();

    RepairSettings settings_;
    AttackNotices notices_;
    std::optional<EvidenceRecorder> evidence_;
    std::optional<std::string> failedProbe_;
    std::function<void(const EvidenceRecord&)> recorded_;
    bool problemsTold_ = false;
    std::vector<EvidenceRecord> undelivered_;
    // What an attack of each address family flushes (IPv4, IPv6), and its watch's arming.
    struct Family {
        std::vector<std::string> command;
        // Shared: the first probe after it waits for it on the echo's worker.
        std::shared_future<os::RunOutcome> arming;
        bool armed = true; // its outcome taken in
        std::string probed;
        bool dropped = false; // monitoring stopped while it ran
        int linesAhead = 0;   // attack lines written as they were seen, not yet repaired
        bool unverifiedSaid = false;
    };
    std::array<Family, 2> families_;
    std::optional<Defences> defences_;
};

} // namespace tarnvik

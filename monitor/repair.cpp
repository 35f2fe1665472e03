// SPDX-License-Identifier: MIT
#include "repair.h"
#include "ip_text.h"
#include "system.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <utility>

namespace tarnvik {

RepairAction::RepairAction(RepairSettings settings)
    : settings_(std::move(settings)),
      notices_(settings_.notify, AttackNotices::Clock::now, settings_.translate) {
    if (settings_.evidence) {
        evidence_.emplace(*settings_.evidence);
        // Told (desktop, lamp) once the attack's line and flush are out: see deliver().
        evidence_->onRecord(
            [this](const EvidenceRecord& record) { undelivered_.push_back(record); });
        // The attack's line the moment it is seen; its repair follows with the tick's work.
        evidence_->onAttack([this](bool ipv6) {
            if (families_[ipv6].linesAhead++ == 0) {
                appendLine();
            }
        });
    }
    DefenceSettings defence;
    defence.ask = evidence_ ? settings_.evidence->ask : nullptr;
    defence.guard = settings_.guard ? &*settings_.guard : nullptr;
    defence.announce = settings_.announce && evidence_ ? &*settings_.announce : nullptr;
    defence.background = settings_.background;
    defence.ownerOnly = settings_.createLogDirectory;
    defence.reportFailure = [this](const std::string& line) { reportFailure(line); };
    defence.report = [this](const std::string& line) { report(line); };
    defence.note = [this](const EvidenceRecord& record) {
        if (evidence_) {
            evidence_->note(record);
        }
    };
    defences_.emplace(std::move(defence));
    families_[0].command = settings_.command;
    families_[1].command = settings_.ipv6Command;
    if (settings_.guard && settings_.guard->holds && !settings_.guard->unusable.empty()) {
        report(settings_.guard->unusable.render());
        settings_.problems.push_back(settings_.guard->unusable);
    }
}

void RepairAction::answered(const std::string& probed) {
    settleArming();
    if (evidence_) {
        evidence_->answered(probed);
    }
    deliver();
    notices_.answered(probed);
}

void RepairAction::failed(const std::string& probed) {
    failedProbe_ = probed;
}

void RepairAction::report(const std::string& line) const {
    if (settings_.report) {
        settings_.report(line);
    }
}

void RepairAction::reportFailure(const std::string& line) const {
    report(line);
    if (settings_.systemRecord) {
        settings_.systemRecord(SystemRecord::repairFailure, line);
    }
}

// The line first, then the system's log: the file is the record the first alert is timed by.
bool RepairAction::appendLine() {
    const auto path = logPath();
    const std::string dateTime = settings_.dateTime();
    const bool placed = settings_.logDirectory.is_absolute();
    int error = !placed || !settings_.createLogDirectory
                    ? 0
                    : os::createPrivateDirectories(settings_.logDirectory);
    if (placed && error == 0) {
        error = os::appendInOneWrite(path, attackLogLine(dateTime), settings_.createLogDirectory);
    }
    if (settings_.systemRecord) {
        settings_.systemRecord(SystemRecord::attack, kAttackLabel + dateTime);
    }
    if (!placed) {
        reportFailure("cannot append to the attack log: it has no directory");
        return false;
    }
    if (error != 0) {
        reportFailure("cannot append to " + os::pathText(path) + ": " + os::errorText(error));
        return false;
    }
    return true;
}

void RepairAction::deliver() {
    for (const auto& record : std::exchange(undelivered_, {})) {
        notices_.recorded(record);
        if (recorded_) {
            recorded_(record);
        }
    }
}

// Started and not awaited: the cache is learnt afresh.
bool RepairAction::flush(bool ipv6) {
    const auto& command = families_[ipv6].command;
    if (const int error = os::startDetached(command, settings_.privileged)) {
        reportFailure("cannot start " + os::commandText(command) + ": " + os::errorText(error));
        return false;
    }
    if (evidence_) {
        evidence_->repaired(ipv6);
    }
    return true;
}

bool RepairAction::run() {
    // This run's failed probe, if any, whatever becomes of the run: a later run may come after
    // the target has answered again.
    const auto probed = std::exchange(failedProbe_, std::nullopt);
    settleArming(); // the probe went out after it: the entry it learnt is the genuine one
    if (probed && evidence_ && evidence_->watch().attackedThisTick()) {
        return true;
    }
    // The log is the record, the flush the remedy: a log that cannot be written is reported and
    // the cache is flushed all the same.
    const bool logged = appendLine();
    // The table as the failure left it: read before the flush changes it. An attack it shows
    // has this run's line.
    families_[0].linesAhead = 1;
    if (probed && !(evidence_ && evidence_->failed(*probed))) {
        notices_.failed(*probed);
    }
    families_[0].linesAhead = 0;
    const bool started = flush(false);
    deliver();
    return started && logged;
}

void RepairAction::tellProblems() {
    if (std::exchange(problemsTold_, true) || !settings_.notify) {
        return;
    }
    for (const auto& problem : settings_.problems) {
        settings_.notify({Words{texts::kCannotDoItsJob}.render(settings_.translate),
                          problem.render(settings_.translate)});
    }
}

// The window closes: what is held is released off its thread, and joined, in 2 s at most (a
// hold on its way ends within the helper's deadline, and a release takes milliseconds).
RepairAction::~RepairAction() {
    defences_.reset();
}

// The flush before a watch is armed runs off the window's thread; the watch is armed once it has
// ended, and not at all when monitoring stopped meanwhile.
void RepairAction::flushBeforeArming(bool ipv6, const std::string& probed) {
    auto& family = families_[ipv6];
    if (!family.armed) {
        return;
    }
    family.probed = probed;
    family.dropped = family.armed = false;
    family.arming = std::async(settings_.background, [command = family.command,
                                                      privileged = settings_.privileged] {
                        return os::runToEnd(command, privileged, kHelperDeadline);
                    }).share();
}

void RepairAction::settleArming() {
    for (const bool ipv6 : {false, true}) {
        auto& family = families_[ipv6];
        if (family.armed || !finished(family.arming)) {
            continue;
        }
        family.armed = true;
        const auto flushed = family.arming.get();
        if (family.dropped) {
            continue;
        }
        if (!flushed.succeeded() && !std::exchange(family.unverifiedSaid, true)) {
            report("cannot flush the " +
                   std::string(ipv6 ? "IPv6 neighbour entries" : "ARP cache") +
                   " before watching (" + os::commandText(family.command) + ": " +
                   os::outcomeText(flushed) + "), so " +
                   (ipv6 ? "the routers' addresses as the cache holds them now are"
                         : "the next hop's address as the cache holds it now is") +
                   " taken as genuine unverified: an attack already under way would go unseen");
        }
        if (ipv6) {
            evidence_->armRouters(flushed.succeeded());
        } else {
            evidence_->arm(family.probed, flushed.succeeded());
        }
    }
}

// An attack's line comes before anything else it sets off. A hold about to be made replaces
// the poisoned entry itself, and the helper holds only an entry it finds learnt: no flush of
// that family goes under its feet.
void RepairAction::defend(bool nextHopAttacked, bool fromTick) {
    const bool routersAttacked = evidence_->takeRouterAttack();
    const auto neighbours = evidence_->defended();
    // The line was written as the attack was seen (onAttack); one for each, never two.
    const auto repair = [&](bool ipv6) {
        if (families_[ipv6].linesAhead == 0) {
            appendLine();
        }
        families_[ipv6].linesAhead = 0;
        if (!defences_->holdDue(neighbours, ipv6)) {
            flush(ipv6);
        }
    };
    for (const bool ipv6 : {true, false}) {
        if (ipv6 ? routersAttacked : nextHopAttacked) {
            repair(ipv6);
        }
    }
    defences_->step(
        neighbours, fromTick,
        [this](const std::string& key, const Reply& reply) {
            return evidence_->answered(key, reply);
        },
        repair);
}

void RepairAction::startWatching() {
    if (evidence_) {
        evidence_->startWatching();
    }
}

// Nothing here waits: each defence winds down off the window's thread, taken in by the short
// timer.
void RepairAction::stopWatching() {
    defences_->stop();
    for (auto& family : families_) {
        family.dropped = true;
    }
    if (evidence_) {
        evidence_->stopWatching();
    }
    deliver();
}

void RepairAction::beginTick(const std::string& probed) {
    if (!evidence_) {
        return;
    }
    settleArming();
    const auto tick = evidence_->beginTick(probed);
    if (tick.needsArming) {
        flushBeforeArming(false, probed);
    }
    if (evidence_->watchesRouters() && !settings_.ipv6Command.empty() &&
        !evidence_->routers().armed()) {
        flushBeforeArming(true, probed);
    }
    settleArming();
    defend(tick.attacked, true);
    deliver();
}

bool RepairAction::announceTick() {
    settleArming();
    defences_->tick();
    deliver();
    return announcing();
}

bool RepairAction::announcing() const {
    return defences_->busy() || !families_[0].armed || !families_[1].armed;
}

int RepairAction::neighbourEventDescriptor() const {
    return settings_.evidence && settings_.evidence->events
               ? settings_.evidence->events->descriptor()
               : -1;
}

void RepairAction::neighbourEventsReady() {
    if (evidence_) {
        settleArming();
        defend(evidence_->catchUp(), false);
        deliver();
    }
}

} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "repair.h"
#include "ip_text.h"
#include "system.h"

#include <utility>

namespace tarnvik {

namespace {

std::string joined(const std::vector<std::string>& argv) {
    std::string text;
    for (const auto& arg : argv) {
        text += (text.empty() ? "" : " ") + arg;
    }
    return text;
}

} // namespace

std::string attackLogLine(const std::string& dateTime) {
    return os::toGbk(std::string(kAttackLabel) + dateTime + "\r\n");
}

RepairAction::RepairAction(RepairSettings settings)
    : settings_(std::move(settings)), notices_(settings_.notify) {
    if (settings_.evidence) {
        evidence_.emplace(*settings_.evidence);
        evidence_->onRecord([this](const EvidenceRecord& record) { notices_.recorded(record); });
    }
}

void RepairAction::answered(const std::string& probed) {
    if (evidence_) {
        evidence_->answered(probed);
    }
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

bool RepairAction::appendLine() {
    const auto path = logPath();
    const std::string dateTime = settings_.dateTime();
    if (settings_.systemRecord) {
        settings_.systemRecord(SystemRecord::attack, kAttackLabel + dateTime);
    }
    if (!settings_.logDirectory.is_absolute()) {
        reportFailure("cannot append to the attack log: it has no directory");
        return false;
    }
    if (settings_.createLogDirectory) {
        // A failure shows as the append's own.
        (void)os::createPrivateDirectories(settings_.logDirectory);
    }
    if (const int error =
            os::appendInOneWrite(path, attackLogLine(dateTime), settings_.createLogDirectory)) {
        reportFailure("cannot append to " + os::pathText(path) + ": " + os::errorText(error));
        return false;
    }
    return true;
}

bool RepairAction::startCommand() {
    if (const int error = os::startDetached(settings_.command, settings_.privileged)) {
        reportFailure("cannot start " + joined(settings_.command) + ": " + os::errorText(error));
        return false;
    }
    if (evidence_) {
        evidence_->repaired();
    }
    return true;
}

bool RepairAction::run() {
    // This run's failed probe, if any, whatever becomes of the run: a later run may come after
    // the target has answered again.
    const auto probed = std::exchange(failedProbe_, std::nullopt);
    if (probed && evidence_ && evidence_->watch().attackedThisTick()) {
        return true;
    }
    // The log is the record, the flush the remedy: a log that cannot be written is reported and
    // the cache is flushed all the same.
    const bool logged = appendLine();
    // The table as the failure left it: read before the flush changes it.
    if (probed && !(evidence_ && evidence_->failed(*probed))) {
        notices_.failed(*probed);
    }
    return startCommand() && logged;
}

void RepairAction::repairAttack(bool attacked) {
    if (attacked) {
        appendLine();
        startCommand();
    }
    guard();
}

RepairAction::~RepairAction() {
    releaseHold();
}

// Holds the genuine address once a flip-flop has confirmed the attack (a move is never held),
// and again when the table no longer shows the hold (Windows' arp -d removes static entries).
void RepairAction::guard() {
    if (!settings_.guard || !evidence_) {
        return;
    }
    const auto& watch = evidence_->watch();
    const auto& hop = evidence_->hop();
    const auto& genuine = watch.baseline();
    const bool lost = held_ && hop && hop->nextHop == held_->nextHop &&
                      (hop->state != "PERMANENT" || hop->linkAddress != held_->linkAddress);
    if ((held_ && !lost) || !watch.confirmed() || !genuine) {
        return;
    }
    if (const int error = settings_.guard->hold(*genuine)) {
        reportFailure("cannot hold " + dottedText(genuine->nextHop) + " at " +
                      genuine->linkAddress + ": " + os::errorText(error));
        return;
    }
    if (!held_) {
        report("holding " + dottedText(genuine->nextHop) + " at " + genuine->linkAddress +
               " as a static entry while the attack goes on");
        auto entry = *genuine;
        entry.state = "PERMANENT";
        evidence_->note({evidence_->target(), genuine, entry, Verdict::held, std::nullopt});
    }
    held_ = genuine;
}

void RepairAction::releaseHold() {
    if (!held_ || !settings_.guard) {
        return;
    }
    const auto held = *std::exchange(held_, std::nullopt);
    if (const int error = settings_.guard->release()) {
        reportFailure("cannot release the hold of " + dottedText(held.nextHop) + ": " +
                      os::errorText(error));
        return;
    }
    report("released the hold of " + dottedText(held.nextHop) + " at " + held.linkAddress);
    if (evidence_) {
        NeighbourReading now = held;
        now.state = "none";
        now.linkAddress.clear();
        evidence_->note({evidence_->target(), held, now, Verdict::released, std::nullopt});
    }
}

void RepairAction::startWatching() {
    // A hold of ours that a killed run left behind goes first, so that the flush lets the next
    // hop's address be learnt afresh.
    if (settings_.guard) {
        if (const int error = settings_.guard->release()) {
            reportFailure("cannot release earlier holds: " + os::errorText(error));
        }
    }
    // The flush is there for the watch's baseline: without evidence there is nothing to learn.
    if (evidence_) {
        startCommand();
        evidence_->startWatching();
    }
}

void RepairAction::stopWatching() {
    releaseHold();
    if (evidence_) {
        evidence_->stopWatching();
    }
}

void RepairAction::beginTick(const std::string& probed) {
    if (evidence_) {
        repairAttack(evidence_->beginTick(probed));
    }
}

int RepairAction::neighbourEventDescriptor() const {
    return settings_.evidence && settings_.evidence->events
               ? settings_.evidence->events->descriptor()
               : -1;
}

void RepairAction::neighbourEventsReady() {
    if (evidence_) {
        repairAttack(evidence_->catchUp());
    }
}

} // namespace tarnvik

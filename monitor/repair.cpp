// SPDX-License-Identifier: MIT
#include "repair.h"
#include "ip_text.h"
#include "system.h"

#include <algorithm>
#include <cstdio>
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

std::string gbkSafeDateTime(const std::string& localized, const CalendarTime& time) {
    const auto marks = [](const std::string& text) {
        return std::count(text.begin(), text.end(), '?');
    };
    if (marks(os::toGbk(localized)) == marks(localized)) {
        return localized;
    }
    char iso[64] = {};
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day,
                  time.hour, time.minute, time.second);
    return iso;
}

RepairAction::RepairAction(RepairSettings settings)
    : settings_(std::move(settings)),
      notices_(settings_.notify, AttackNotices::Clock::now, settings_.translate) {
    if (settings_.evidence) {
        evidence_.emplace(*settings_.evidence);
        evidence_->onRecord([this](const EvidenceRecord& record) {
            notices_.recorded(record);
            if (recorded_) {
                recorded_(record);
            }
        });
    }
    if (settings_.announce && evidence_) {
        for (auto* announcer : {&announcer_, &routerAnnouncer_}) {
            announcer->emplace(
                *settings_.announce,
                [this](const EvidenceRecord& record) { evidence_->note(record); },
                [this](const std::string& line) { reportFailure(line); });
        }
    }
    if (settings_.guard) {
        // Holds of copies that no longer run go first, so that the flush lets their next hop's
        // address be learnt afresh; a copy that still runs keeps its own.
        records_.emplace(settings_.guard->records, settings_.createLogDirectory);
        routerRecords_.emplace(settings_.guard->records, settings_.createLogDirectory, "-router");
        records_->releaseAbandoned(settings_.guard->release,
                                   [this](const std::string& line) { reportFailure(line); });
        if (settings_.guard->holds && !settings_.guard->unusable.empty()) {
            report(settings_.guard->unusable.render());
            settings_.problems.push_back(settings_.guard->unusable);
        }
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

void RepairAction::repairAttack() {
    signOfAttack(true);
    appendLine();
    // A hold about to be made replaces the poisoned entry itself, and the helper holds only an
    // entry it finds learnt: a flush now would empty it under the helper's feet.
    if (!holdDue()) {
        startCommand();
    }
}

bool RepairAction::holdDue() const {
    if (!settings_.guard || !settings_.guard->holds || !evidence_ || held_) {
        return false;
    }
    const auto& watch = evidence_->watch();
    return pendingHold_.valid() ||
           (watch.confirmed() && watch.baselineProven() && ticksUntilRetry_ == 0);
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

RepairAction::~RepairAction() {
    releaseHold();
}

void RepairAction::arm(const std::string& probed) {
    const auto flushed = os::runToEnd(settings_.command, settings_.privileged, kHelperDeadline);
    if (!flushed.succeeded() && !unverifiedSaid_) {
        unverifiedSaid_ = true;
        report("cannot flush the ARP cache before watching (" + joined(settings_.command) + ": " +
               os::outcomeText(flushed) +
               "), so the next hop's address as the cache holds it now is taken as genuine "
               "unverified: an attack already under way would go unseen");
    }
    evidence_->arm(probed, flushed.succeeded());
}

// The IPv6 routers are watched from the first tick on, their entries learnt afresh as the next
// hop's are.
void RepairAction::armRouters() {
    const auto flushed = os::runToEnd(settings_.ipv6Command, settings_.privileged, kHelperDeadline);
    if (!flushed.succeeded() && !std::exchange(routersUnverifiedSaid_, true)) {
        report("cannot flush the IPv6 neighbour entries before watching the routers (" +
               joined(settings_.ipv6Command) + ": " + os::outcomeText(flushed) +
               "), so the routers' addresses as the cache holds them now are taken as genuine "
               "unverified");
    }
    evidence_->armRouters(flushed.succeeded());
}

// An attack on an IPv6 router has its line like any other; its flush is of the IPv6 entries.
void RepairAction::repairRouters() {
    appendLine();
    evidence_->routersRepaired();
    if (const int error = os::startDetached(settings_.ipv6Command, settings_.privileged)) {
        reportFailure("cannot start " + joined(settings_.ipv6Command) + ": " +
                      os::errorText(error));
    }
}

// Holds the genuine address once an attack is confirmed, and again when the table no longer
// shows the hold (Windows' arp -d removes static entries). Only an address learnt right after a
// flush is held, never one taken over because nothing else came back. A failed hold is said
// once and tried again after 1, 2, 4 ... ticks, at most a minute apart.
void RepairAction::guard(bool fromTick) {
    if (!settings_.guard || !settings_.guard->holds || !evidence_) {
        return;
    }
    settleHold();
    if (pendingHold_.valid()) {
        return;
    }
    if (fromTick && ticksUntilRetry_ > 0) {
        --ticksUntilRetry_;
    }
    const auto& watch = evidence_->watch();
    const auto& hop = evidence_->hop();
    const auto& genuine = watch.baseline();
    const bool lost = held_ && hop && hop->nextHop == held_->nextHop &&
                      (hop->state != "PERMANENT" || hop->linkAddress != held_->linkAddress);
    if ((held_ && !lost) || !watch.confirmed() || !watch.baselineProven() || ticksUntilRetry_ > 0) {
        return;
    }
    holding_ = *genuine;
    // Recorded before it is made: a copy killed at any moment leaves no hold unrecorded.
    if (const int error = records_->write(*genuine)) {
        holdFailed("cannot record the hold of " + dottedText(genuine->nextHop) +
                   ", so none is made: " + os::errorText(error));
        return;
    }
    pendingHold_ = std::async(settings_.background, settings_.guard->hold, *genuine);
    settleHold();
}

void RepairAction::holdFailed(const std::string& line) {
    holding_.reset();
    if (!held_) {
        records_->erase();
    }
    if (holdFailures_++ == 0) {
        reportFailure(line);
    }
    ticksUntilRetry_ = std::min(1 << std::min(holdFailures_ - 1, 6), 60);
}

void RepairAction::settleHold() {
    if (!pendingHold_.valid() ||
        pendingHold_.wait_for(std::chrono::seconds(0)) == std::future_status::timeout) {
        return;
    }
    const auto outcome = pendingHold_.get();
    const auto genuine = *holding_;
    if (!outcome.succeeded()) {
        holdFailed("cannot hold " + dottedText(genuine.nextHop) + " at " + genuine.linkAddress +
                   ": " + os::outcomeText(outcome));
        return;
    }
    holding_.reset();
    holdFailures_ = 0;
    if (!held_) {
        noteHold(genuine, true);
    }
    held_ = genuine;
    if (announcer_) {
        announcer_->held(true);
    }
}

// A hold on its way ends first: hold and release never overlap.
void RepairAction::releaseHold() {
    if (!settings_.guard) {
        return;
    }
    releaseRouterHold();
    if (pendingHold_.valid()) {
        pendingHold_.wait_for(kHelperDeadline);
        settleHold();
    }
    if (held_ && announcer_) {
        announcer_->held(false);
    }
    release(held_, *records_);
}

void RepairAction::release(std::optional<NeighbourReading>& made, HoldRecords& records) {
    if (!made) {
        return;
    }
    const auto held = *std::exchange(made, std::nullopt);
    if (const auto outcome = settings_.guard->release(held); !outcome.succeeded()) {
        // The record stays, so that the next start releases it.
        reportFailure("cannot release the hold of " +
                      std::string(held.ipv6.empty() ? "" : "IPv6 router ") + hopText(held) + ": " +
                      os::outcomeText(outcome));
        return;
    }
    records.erase();
    noteHold(held, false);
}

void RepairAction::noteHold(const NeighbourReading& genuine, bool held) {
    const std::string what = genuine.ipv6.empty() ? "" : "IPv6 router ";
    NeighbourReading now = genuine;
    now.state = held ? "PERMANENT" : "none";
    if (held) {
        report("holding " + what + hopText(genuine) + " at " + genuine.linkAddress +
               " as a static entry while the attack goes on");
    } else {
        report("released the hold of " + what + hopText(genuine) + " at " + genuine.linkAddress);
        now.linkAddress.clear();
    }
    if (evidence_) {
        evidence_->note({evidence_->target(), genuine, now,
                         held ? Verdict::held : Verdict::released, std::nullopt});
    }
}

// A router's genuine entry is held as the next hop's is: once its attack is confirmed (a
// flip-flop, or its answer to the question) and only where its address was learnt right after
// the flush; again when the table no longer shows the hold (Windows' netsh ... delete neighbors
// may remove it). The helper holds it whatever the entry's state, so no flush is put off for it;
// a failed hold is said once and tried again a minute later.
void RepairAction::guardRouters() {
    if (!settings_.guard || !settings_.guard->holds || !evidence_) {
        return;
    }
    settleRouterHold();
    if (pendingRouterHold_.valid() ||
        (routerTicksUntilRetry_ > 0 && --routerTicksUntilRetry_ > 0) ||
        (routerHeld_ && !evidence_->routerHoldLost(*routerHeld_))) {
        return;
    }
    if (routerHeld_) {
        routerHolding_ = routerHeld_;
    } else if (const auto router = evidence_->routers().confirmed()) {
        routerHolding_ = evidence_->routerReading(*router, router->linkAddress);
    } else {
        return;
    }
    if (const int error = routerRecords_->write(*routerHolding_)) {
        reportFailure("cannot record the hold of IPv6 router " + hopText(*routerHolding_) +
                      ", so none is made: " + os::errorText(error));
        routerHolding_.reset();
        routerTicksUntilRetry_ = 60;
        return;
    }
    pendingRouterHold_ = std::async(settings_.background, settings_.guard->hold, *routerHolding_);
    settleRouterHold();
}

void RepairAction::settleRouterHold() {
    if (!pendingRouterHold_.valid() ||
        pendingRouterHold_.wait_for(std::chrono::seconds(0)) == std::future_status::timeout) {
        return;
    }
    const auto outcome = pendingRouterHold_.get();
    const auto genuine = *std::exchange(routerHolding_, std::nullopt);
    if (!outcome.succeeded()) {
        if (!routerHeld_) {
            routerRecords_->erase();
        }
        routerTicksUntilRetry_ = 60;
        if (!std::exchange(routerHoldFailureSaid_, true)) {
            reportFailure("cannot hold IPv6 router " + hopText(genuine) + " at " +
                          genuine.linkAddress + ": " + os::outcomeText(outcome));
        }
        return;
    }
    if (!std::exchange(routerHeld_, genuine)) {
        noteHold(genuine, true);
    }
    if (routerAnnouncer_) {
        routerAnnouncer_->held(true);
    }
}

void RepairAction::releaseRouterHold() {
    if (pendingRouterHold_.valid()) {
        pendingRouterHold_.wait_for(kHelperDeadline);
        settleRouterHold();
    }
    if (routerHeld_ && routerAnnouncer_) {
        routerAnnouncer_->held(false);
    }
    release(routerHeld_, *routerRecords_);
}

void RepairAction::startWatching() {
    if (evidence_) {
        evidence_->startWatching();
    }
}

void RepairAction::stopWatching() {
    for (auto* announcer : {&announcer_, &routerAnnouncer_}) {
        if (*announcer) {
            (*announcer)->stop();
        }
    }
    releaseHold();
    if (evidence_) {
        evidence_->stopWatching();
    }
}

void RepairAction::beginTick(const std::string& probed) {
    if (!evidence_) {
        return;
    }
    const auto tick = evidence_->beginTick(probed);
    if (tick.needsArming) {
        arm(probed);
    }
    if (evidence_->watchesRouters() && !settings_.ipv6Command.empty() &&
        !evidence_->routers().armed()) {
        armRouters();
    }
    if (evidence_->takeRouterAttack()) {
        repairRouters();
    }
    signRouters();
    guardRouters();
    if (tick.attacked) {
        repairAttack();
    } else {
        signOfAttack(false); // the other address may stay without a new attack line
    }
    ask();
    guard(true);
}

void RepairAction::signOfAttack(bool attacked) {
    if (!announcer_) {
        return;
    }
    const auto& genuine = evidence_->watch().baseline();
    const auto& hop = evidence_->hop();
    const bool otherHolds = hop && genuine && hop->nextHop == genuine->nextHop &&
                            !hop->linkAddress.empty() && hop->linkAddress != genuine->linkAddress;
    if (genuine && (attacked || otherHolds)) {
        announcer_->sign(*genuine, evidence_->target());
    }
}

bool RepairAction::announceTick() {
    const bool nextHop = announcer_ && announcer_->tick();
    const bool routers = routerAnnouncer_ && routerAnnouncer_->tick();
    return nextHop || routers;
}

// One question a tick, to the next hop and to an IPv6 router: the genuine address three times,
// then, if it never answered, the other one. The genuine address's answer confirms the attack;
// its silence while the other answers is a move.
void RepairAction::ask() {
    if (!settings_.evidence->ask) {
        return;
    }
    const auto& watch = evidence_->watch();
    if (const auto answer = collect(question_, watch.questionOpen(), "the next hop's address")) {
        if (evidence_->questionAnswered(answer->first, answer->second)) {
            repairAttack();
        }
    }
    if (!question_.pending.valid()) {
        if (watch.questionOpen() && watch.baseline() && watch.suspect()) {
            pose(question_, *watch.baseline(), *watch.suspect());
        } else {
            question_.silences = 0;
        }
    }
    const auto& routers = evidence_->routers();
    if (const auto answer =
            collect(routerQuestion_, routers.question().has_value(), "the IPv6 router's address")) {
        evidence_->routerQuestionAnswered(answer->first, answer->second);
        if (evidence_->takeRouterAttack()) {
            repairRouters();
        }
    }
    if (!routerQuestion_.pending.valid()) {
        if (const auto open = routers.question()) {
            pose(routerQuestion_,
                 evidence_->routerReading(open->genuine, open->genuine.linkAddress),
                 evidence_->routerReading(open->genuine, open->suspect));
        } else {
            routerQuestion_.silences = 0;
        }
    }
}

// The answer once it came in, while the question is still `open`: whether the genuine address
// answered, and whether the other one did (neither, when it could not be asked). A silence of
// the genuine address is only counted.
std::optional<std::pair<bool, bool>> RepairAction::collect(Question& question, bool open,
                                                           const std::string& asked) {
    if (!question.pending.valid() ||
        question.pending.wait_for(std::chrono::seconds(0)) == std::future_status::timeout) {
        return std::nullopt;
    }
    const auto outcome = question.pending.get();
    const bool answered = outcome.succeeded();
    const bool silent = outcome.error == 0 && !outcome.timedOut && outcome.exitStatus == 3;
    const bool other = std::exchange(question.askingOther, false);
    if (!open) {
        question.silences = 0;
        return std::nullopt;
    }
    if (!answered && !silent) {
        if (!std::exchange(question.failureSaid, true)) {
            reportFailure("cannot ask whether " + asked +
                          " still answers: " + os::outcomeText(outcome));
        }
        question.silences = 0;
        return std::pair(false, false);
    }
    if (other || answered) {
        question.silences = 0;
        return std::pair(answered && !other, answered && other);
    }
    ++question.silences;
    return std::nullopt;
}

void RepairAction::pose(Question& question, const NeighbourReading& genuine,
                        const NeighbourReading& other) {
    question.askingOther = question.silences >= 3;
    question.pending = std::async(settings_.background, settings_.evidence->ask,
                                  question.askingOther ? other : genuine);
}

int RepairAction::neighbourEventDescriptor() const {
    return settings_.evidence && settings_.evidence->events
               ? settings_.evidence->events->descriptor()
               : -1;
}

void RepairAction::neighbourEventsReady() {
    if (!evidence_) {
        return;
    }
    if (evidence_->catchUp()) {
        repairAttack();
        guard(false);
    }
    if (evidence_->takeRouterAttack()) {
        repairRouters();
        signRouters();
        guardRouters();
    }
}

// An attacked router's entry for us is likely poisoned too: it is told our genuine address for
// as long as the other address stays in our entry for it, and 30 s on.
void RepairAction::signRouters() {
    if (!routerAnnouncer_) {
        return;
    }
    for (const auto& router : evidence_->routers().underAttack()) {
        routerAnnouncer_->sign(evidence_->routerReading(router, router.linkAddress),
                               evidence_->target());
    }
}

} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "repair.h"
#include "ip_text.h"
#include "system.h"

#include <algorithm>
#include <cstdio>
#include <thread>
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
    defenceSettings_.ask = evidence_ ? settings_.evidence->ask : nullptr;
    defenceSettings_.guard = settings_.guard ? &*settings_.guard : nullptr;
    defenceSettings_.announce = settings_.announce && evidence_ ? &*settings_.announce : nullptr;
    defenceSettings_.background = settings_.background;
    defenceSettings_.ownerOnly = settings_.createLogDirectory;
    defenceSettings_.reportFailure = [this](const std::string& line) { reportFailure(line); };
    defenceSettings_.report = [this](const std::string& line) { report(line); };
    defenceSettings_.note = [this](const EvidenceRecord& record) {
        if (evidence_) {
            evidence_->note(record);
        }
    };
    if (settings_.guard) {
        // Holds of copies that no longer run go first, so that the flush lets their neighbours'
        // addresses be learnt afresh; a copy that still runs keeps its own.
        HoldRecords(settings_.guard->records, settings_.createLogDirectory)
            .releaseAbandoned(settings_.guard->release,
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
    int error =
        settings_.createLogDirectory ? os::createPrivateDirectories(settings_.logDirectory) : 0;
    if (error != 0 || (error = os::appendInOneWrite(path, attackLogLine(dateTime),
                                                    settings_.createLogDirectory))) {
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

void RepairAction::startIpv6Command() {
    if (evidence_) {
        evidence_->routersRepaired();
    }
    if (const int error = os::startDetached(settings_.ipv6Command, settings_.privileged)) {
        reportFailure("cannot start " + joined(settings_.ipv6Command) + ": " +
                      os::errorText(error));
    }
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

// The window closes: what is held is released off its thread, and joined here, in 2 s at most
// (a hold on its way ends within the helper's deadline, and a release takes milliseconds).
RepairAction::~RepairAction() {
    stopWatching();
    const auto end = std::chrono::steady_clock::now() + kHelperDeadline;
    while (!stopping_.empty() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        windDown();
    }
}

void RepairAction::windDown() {
    std::erase_if(stopping_, [](const auto& defence) { return defence->windDown(); });
}

void RepairAction::flushBeforeArming(PendingFlush& pending, const std::vector<std::string>& command,
                                     const std::string& probed) {
    if (pending.outcome.valid()) {
        return;
    }
    pending.probed = probed;
    pending.dropped = false;
    pending.outcome =
        std::async(settings_.background, [command, privileged = settings_.privileged] {
            return os::runToEnd(command, privileged, kHelperDeadline);
        });
}

// A watch is armed once its flush has ended, and not at all when monitoring stopped meanwhile.
void RepairAction::settleArming() {
    if (finished(arming_.outcome)) {
        const auto flushed = arming_.outcome.get();
        if (!arming_.dropped) {
            arm(arming_.probed, flushed);
        }
    }
    if (finished(armingRouters_.outcome)) {
        const auto flushed = armingRouters_.outcome.get();
        if (!armingRouters_.dropped) {
            armRouters(flushed);
        }
    }
}

void RepairAction::arm(const std::string& probed, const os::RunOutcome& flushed) {
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
void RepairAction::armRouters(const os::RunOutcome& flushed) {
    if (!flushed.succeeded() && !std::exchange(routersUnverifiedSaid_, true)) {
        report("cannot flush the IPv6 neighbour entries before watching the routers (" +
               joined(settings_.ipv6Command) + ": " + os::outcomeText(flushed) +
               "), so the routers' addresses as the cache holds them now are taken as genuine "
               "unverified");
    }
    evidence_->armRouters(flushed.succeeded());
}

Defence& RepairAction::defence(const DefendedNeighbour& neighbour) {
    for (const auto& defence : defences_) {
        if (defence->key() == neighbour.key) {
            return *defence;
        }
    }
    // Each router's hold has a record of its own beside the next hop's.
    std::string kind;
    if (!neighbour.genuine->ipv6.empty()) {
        kind = "-router-" + std::to_string(neighbour.genuine->interfaceIndex) + "-" +
               hopAddress(*neighbour.genuine);
        std::replace(kind.begin(), kind.end(), ':', '.');
    }
    defences_.push_back(std::make_unique<Defence>(defenceSettings_, neighbour.key, kind));
    return *defences_.back();
}

// An attack's line comes before anything else it sets off. A hold about to be made replaces
// the poisoned entry itself, and the helper holds only an entry it finds learnt: no flush of
// that family goes under its feet.
void RepairAction::defend(bool nextHopAttacked, bool fromTick) {
    auto neighbours = evidence_->defended();
    const auto repair = [&](bool ipv6) {
        appendLine();
        const bool holdDue = std::any_of(neighbours.begin(), neighbours.end(), [&](auto& n) {
            return n.genuine->ipv6.empty() != ipv6 && defence(n).holdDue(n);
        });
        if (holdDue) {
            return;
        }
        if (ipv6) {
            startIpv6Command();
        } else {
            startCommand();
        }
    };
    if (evidence_->takeRouterAttack()) {
        repair(true);
    }
    if (nextHopAttacked) {
        repair(false);
    }
    for (const auto& neighbour : neighbours) {
        auto& defence = this->defence(neighbour);
        defence.sign(neighbour, neighbour.watch->attackedThisTick());
        if (const auto reply = defence.collect();
            reply && evidence_->answered(neighbour.key, *reply)) {
            repair(!neighbour.genuine->ipv6.empty());
        }
        defence.ask(neighbour);
        defence.guard(neighbour, fromTick);
    }
    // A neighbour no longer watched (another next hop now) has its answer dropped.
    for (const auto& defence : defences_) {
        if (std::none_of(neighbours.begin(), neighbours.end(),
                         [&](const auto& n) { return n.key == defence->key(); })) {
            (void)defence->collect();
        }
    }
}

void RepairAction::startWatching() {
    if (evidence_) {
        evidence_->startWatching();
    }
}

// Nothing here waits: each defence winds down off the window's thread, collected by the short
// timer (a deferred one, as tests run them, at once).
void RepairAction::stopWatching() {
    for (auto& defence : defences_) {
        stopping_.push_back(std::move(defence));
    }
    defences_.clear();
    arming_.dropped = armingRouters_.dropped = true;
    for (int pass = 0; pass < 3 && !stopping_.empty(); ++pass) {
        windDown();
    }
    if (evidence_) {
        evidence_->stopWatching();
    }
}

void RepairAction::beginTick(const std::string& probed) {
    if (!evidence_) {
        return;
    }
    settleArming();
    const auto tick = evidence_->beginTick(probed);
    if (tick.needsArming) {
        flushBeforeArming(arming_, settings_.command, probed);
    }
    if (evidence_->watchesRouters() && !settings_.ipv6Command.empty() &&
        !evidence_->routers().armed()) {
        flushBeforeArming(armingRouters_, settings_.ipv6Command, probed);
    }
    settleArming();
    defend(tick.attacked, true);
}

bool RepairAction::announceTick() {
    windDown();
    settleArming();
    for (const auto& defence : defences_) {
        (void)defence->announceTick();
    }
    return announcing();
}

bool RepairAction::announcing() const {
    return !stopping_.empty() || arming_.outcome.valid() || armingRouters_.outcome.valid() ||
           std::any_of(defences_.begin(), defences_.end(),
                       [](const auto& defence) { return defence->announcing(); });
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
    }
}

} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "notices.h"
#include "diagnostics.h"
#include "ip_text.h"

namespace tarnvik {

// Typed names reach a notice: shown as text, cut short.
std::string AttackNotices::named(const std::string& probed) const {
    return probed.empty() ? Words{texts::kTheTarget}.render(translate_) : printableExcerpt(probed);
}

Words routerState(const EvidenceRecord& record) {
    const std::string now = record.now.linkAddress.empty() ? "?" : record.now.linkAddress;
    if (record.verdict == Verdict::newRouter) {
        return {texts::kNewRouter, {record.now.ipv6, now}};
    }
    if (record.verdict == Verdict::moved) {
        return {texts::kRouterReplaced, {record.now.ipv6, now}};
    }
    if (record.verdict == Verdict::routerGone) {
        return {texts::kRouterLeft, {record.now.ipv6}};
    }
    if (record.verdict == Verdict::routerFlood) {
        return {texts::kRouterFlood, {std::to_string(kMostRouters), record.now.ipv6}};
    }
    return {record.routeLost ? texts::kRouterChangedRouteLost : texts::kRouterChanged,
            {record.now.ipv6, record.baseline ? record.baseline->linkAddress : "?", now}};
}

AttackNotices::AttackNotices(std::function<void(const Notice&)> tell,
                             std::function<Clock::time_point()> now, Translator translate)
    : tell_(std::move(tell)), now_(std::move(now)), translate_(std::move(translate)) {}

void AttackNotices::tell(const Words& title, const Words& body) {
    tell_({title.render(translate_), body.render(translate_)});
}

void AttackNotices::recorded(const EvidenceRecord& record) {
    if (!tell_) {
        return;
    }
    const std::string hop = hopText(record.now);
    const std::string was = record.baseline ? record.baseline->linkAddress : "";
    if (!record.now.ipv6.empty()) {
        // The routers are this computer's, whatever is probed: one notice a minute for them.
        if ((record.verdict == Verdict::changed || record.verdict == Verdict::newRouter) &&
            due(routersLastTold_)) {
            tell({texts::kRouterAttackTitle}, routerState(record));
        } else if (record.verdict == Verdict::moved) {
            tell({texts::kRouterReplacedTitle}, routerState(record));
        } else if (record.verdict == Verdict::routerFlood) {
            tell({texts::kRouterFloodTitle}, routerState(record));
        }
        return;
    }
    switch (record.verdict) {
    case Verdict::changed: {
        if (!due(targets_[record.probed].lastChange)) {
            return;
        }
        tell({texts::kAttackOn, {named(record.probed)}},
             record.attacker ? Words{texts::kAttackHeldByBody,
                                     {hop, was, record.now.linkAddress, *record.attacker}}
                             : Words{texts::kAttackBody, {hop, was, record.now.linkAddress}});
        return;
    }
    case Verdict::moved:
        tell({texts::kReplacedTitle, {named(record.probed)}},
             {texts::kReplacedBody, {hop, was, record.now.linkAddress}});
        return;
    case Verdict::announced:
        if (record.now.state == "started") {
            tell({texts::kDefendingTitle, {named(record.probed)}},
                 {texts::kToldOurAddress, {hop, record.now.linkAddress}});
        }
        return;
    case Verdict::held:
    case Verdict::released:
    case Verdict::newRouter:
    case Verdict::routerGone:
    case Verdict::routerFlood:
    case Verdict::watching:
        return; // the guard's own doing, or no attack
    case Verdict::unchanged:
        silent(record.probed, {texts::kStoppedKeeps, {hop, record.now.linkAddress}});
        return;
    case Verdict::unresolved:
        silent(record.probed, {texts::kStoppedNoLink, {hop}});
        return;
    case Verdict::unknown:
    case Verdict::local:
        silent(record.probed, {texts::kStoppedAnswering});
        return;
    }
}

void AttackNotices::failed(const std::string& probed) {
    if (tell_) {
        silent(probed, {texts::kStoppedAnswering});
    }
}

bool AttackNotices::due(std::optional<Clock::time_point>& last) {
    const auto now = now_();
    if (last && now - *last < std::chrono::minutes(1)) {
        return false;
    }
    last = now;
    return true;
}

void AttackNotices::silent(const std::string& probed, const Words& body) {
    auto& target = targets_[probed];
    target.answers = 0;
    if (++target.failures >= 2 && !target.silent && due(target.lastSilent)) {
        target.silent = true;
        tell({texts::kDoesNotAnswer, {named(probed)}}, body);
    }
}

void AttackNotices::answered(const std::string& probed) {
    const auto found = targets_.find(probed);
    if (!tell_ || found == targets_.end()) {
        return;
    }
    auto& target = found->second;
    target.failures = 0;
    if (++target.answers >= 2 && target.silent && due(target.lastAnswering)) {
        target.silent = false;
        tell({texts::kAnswersAgain, {named(probed)}}, {texts::kAnsweredAgain});
    }
}

} // namespace tarnvik

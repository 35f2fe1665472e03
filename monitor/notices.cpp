// SPDX-License-Identifier: MIT
#include "notices.h"
#include "diagnostics.h"
#include "ip_text.h"

namespace tarnvik {

namespace {

// Typed names reach a notice: shown as text, cut short.
std::string named(const std::string& probed) {
    return probed.empty() ? std::string("the target") : printableExcerpt(probed);
}

} // namespace

AttackNotices::AttackNotices(std::function<void(const Notice&)> tell,
                             std::function<Clock::time_point()> now)
    : tell_(std::move(tell)), now_(std::move(now)) {}

void AttackNotices::recorded(const EvidenceRecord& record) {
    if (!tell_) {
        return;
    }
    const std::string hop = dottedText(record.now.nextHop);
    const std::string was = record.baseline ? record.baseline->linkAddress : "";
    switch (record.verdict) {
    case Verdict::changed: {
        if (!due(targets_[record.probed].lastChange)) {
            return;
        }
        tell_({"ARP attack on " + named(record.probed),
               "The link-layer address of " + hop + " changed from " + was + " to " +
                   record.now.linkAddress +
                   (record.attacker ? ", held by " + dottedText(*record.attacker) : "") + "."});
        return;
    }
    case Verdict::moved:
        tell_({"Next hop of " + named(record.probed) + " replaced",
               "The link-layer address of " + hop + " changed from " + was + " to " +
                   record.now.linkAddress +
                   " and the old one is gone; the new one is taken as genuine."});
        return;
    case Verdict::held:
    case Verdict::released:
        return; // the guard's own doing: no attack
    case Verdict::unchanged:
        silent(record.probed, "It stopped answering; its next hop " + hop + " keeps its address " +
                                  record.now.linkAddress + ".");
        return;
    case Verdict::unresolved:
        silent(record.probed,
               "It stopped answering, and its next hop " + hop + " has no link-layer address now.");
        return;
    case Verdict::unknown:
    case Verdict::local:
        silent(record.probed, "It stopped answering.");
        return;
    }
}

void AttackNotices::failed(const std::string& probed) {
    if (tell_) {
        silent(probed, "It stopped answering.");
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

void AttackNotices::silent(const std::string& probed, const std::string& body) {
    auto& target = targets_[probed];
    target.answers = 0;
    if (++target.failures >= 2 && !target.silent && due(target.lastSilent)) {
        target.silent = true;
        tell_({named(probed) + " does not answer", body});
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
        tell_({named(probed) + " answers again", "Echo requests are answered again."});
    }
}

} // namespace tarnvik

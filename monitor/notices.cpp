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
        auto& target = targets_[record.probed];
        const auto now = now_();
        if (target.lastChange && now - *target.lastChange < std::chrono::minutes(1)) {
            return;
        }
        target.lastChange = now;
        tell_({"ARP attack on " + named(record.probed),
               "The link-layer address of " + hop + " changed from " + was + " to " +
                   record.now.linkAddress +
                   (record.attacker ? ", held by " + dottedText(*record.attacker) : "") + "."});
        return;
    }
    case Verdict::moved:
    case Verdict::held:
    case Verdict::released:
        return; // a replaced host or router, or the guard's own doing: no attack
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

void AttackNotices::silent(const std::string& probed, const std::string& body) {
    auto& target = targets_[probed];
    if (!target.silent) {
        target.silent = true;
        tell_({named(probed) + " does not answer", body});
    }
}

void AttackNotices::answered(const std::string& probed) {
    const auto found = targets_.find(probed);
    if (tell_ && found != targets_.end() && found->second.silent) {
        found->second.silent = false;
        tell_({named(probed) + " answers again", "Echo requests are answered again."});
    }
}

} // namespace tarnvik

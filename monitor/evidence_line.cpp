// SPDX-License-Identifier: MIT
// What a record says: its line in the evidence log, and in words on standard error.
#include "evidence.h"
#include "ip_text.h"

namespace tarnvik {

namespace {

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

} // namespace

Verdict evidenceVerdict(const std::optional<NeighbourReading>& baseline,
                        const NeighbourReading& now) {
    if (now.local) {
        return Verdict::local;
    }
    // After a route change the two readings are of different routers: nothing to compare.
    if (!baseline || baseline->linkAddress.empty() || baseline->local ||
        baseline->nextHop != now.nextHop) {
        return Verdict::unknown;
    }
    if (now.linkAddress.empty()) {
        return Verdict::unresolved;
    }
    return now.linkAddress == baseline->linkAddress ? Verdict::unchanged : Verdict::changed;
}

std::string hopText(const NeighbourReading& reading) {
    return reading.ipv6.empty() ? dottedText(reading.nextHop) : reading.ipv6;
}

std::string hopAddress(const NeighbourReading& reading) {
    return hopText(reading).substr(0, hopText(reading).find('%'));
}

std::string evidenceLine(const std::string& isoTime, const EvidenceRecord& record) {
    const bool local = record.now.local;
    return isoTime + '\t' + record.probed + '\t' + (local ? "-" : hopText(record.now)) + '\t' +
           (record.baseline ? orDash(record.baseline->linkAddress) : "-") + '\t' +
           orDash(record.now.linkAddress) + '\t' +
           (local ? "-" : record.now.state + (record.routeLost ? ",route-lost" : "")) + '\t' +
           verdictName(record.verdict) + '\t' + record.attacker.value_or("-") + '\n';
}

std::string recordReport(const EvidenceRecord& record) {
    const std::string hop = hopText(record.now);
    const std::string was = record.baseline ? record.baseline->linkAddress : "";
    const std::string what = record.now.ipv6.empty() ? "next hop " : "IPv6 router ";
    if (record.verdict == Verdict::changed) {
        return what + hop + " changed from " + was + " to " + record.now.linkAddress +
               (record.attacker ? ", held by " + *record.attacker : "") +
               (record.routeLost ? "; its default route was lost with it" : "");
    }
    if (record.verdict == Verdict::newRouter) {
        return "new IPv6 default router " + hop + " at " +
               (record.now.linkAddress.empty() ? "an unknown address" : record.now.linkAddress) +
               ": a rogue router advertisement, unless a router was added";
    }
    if (record.verdict == Verdict::routerFlood) {
        return "more than " + std::to_string(kMostRouters) + " IPv6 default routers (the latest " +
               hop + "): a flood of router advertisements; the ones beyond are not watched";
    }
    if (record.verdict == Verdict::routerGone) {
        return "IPv6 router " + hop + " is gone";
    }
    if (record.verdict == Verdict::announced) {
        return record.now.state == "started"
                   ? "told " + hop + " our address " + record.now.linkAddress +
                         " while the attack goes on"
                   : "the attack on " + hop + " is over: no longer telling it our address";
    }
    if (record.verdict == Verdict::moved) {
        return what + hop + " moved from " + was + " to " + record.now.linkAddress +
               (record.moveProven ? ": the old address does not answer and the new one does"
                                  : ": the old address stayed away through repairs for " +
                                        std::to_string(kTicksAbsentForAMove) + " s") +
               "; the new one is taken as genuine from now on";
    }
    return {};
}

} // namespace tarnvik

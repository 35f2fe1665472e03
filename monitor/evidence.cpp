// SPDX-License-Identifier: MIT
#include "evidence.h"
#include "ip_text.h"
#include "system.h"

namespace tarnvik {

namespace {

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

// Only what the probe itself reads as an address names something to read the tables for, so no
// text that holds a blank, a tab or a line break reaches a line.
std::optional<Ipv4Value> probedAddress(const std::string& probed) {
    const auto address = parseDottedIpv4(probed);
    return address && *address != 0 ? address : std::nullopt;
}

} // namespace

Verdict evidenceVerdict(const std::optional<NeighbourReading>& lastGood,
                        const NeighbourReading& now) {
    if (now.local) {
        return Verdict::local;
    }
    // After a route change the two readings are of different routers: nothing to compare.
    if (!lastGood || lastGood->linkAddress.empty() || lastGood->local ||
        lastGood->nextHop != now.nextHop) {
        return Verdict::unknown;
    }
    if (now.linkAddress.empty()) {
        return Verdict::unresolved;
    }
    return now.linkAddress == lastGood->linkAddress ? Verdict::unchanged : Verdict::changed;
}

std::string evidenceLine(const std::string& isoTime, const std::string& probed,
                         const std::optional<NeighbourReading>& lastGood,
                         const NeighbourReading& now) {
    const bool local = now.local;
    return isoTime + '\t' + probed + '\t' + (local ? "-" : dottedText(now.nextHop)) + '\t' +
           (lastGood ? orDash(lastGood->linkAddress) : "-") + '\t' + orDash(now.linkAddress) +
           '\t' + (local ? "-" : now.state) + '\t' + verdictName(evidenceVerdict(lastGood, now)) +
           '\n';
}

EvidenceRecorder::EvidenceRecorder(EvidenceSettings settings) : settings_(std::move(settings)) {}

void EvidenceRecorder::report(const std::string& line) const {
    if (settings_.report) {
        settings_.report(line);
    }
}

void EvidenceRecorder::answered(const std::string& probed) {
    const auto address = probedAddress(probed);
    NeighbourReading reading;
    if (!address || settings_.read(*address, reading) != 0) {
        return;
    }
    lastProbed_ = probed;
    lastGood_ = reading;
}

void EvidenceRecorder::failed(const std::string& probed) {
    const auto address = probedAddress(probed);
    if (!address) {
        return;
    }
    NeighbourReading now;
    if (const int error = settings_.read(*address, now)) {
        report("cannot read the neighbour table for " + probed + ": " + os::errorText(error));
        return;
    }
    const auto lastGood = probed == lastProbed_ ? lastGood_ : std::nullopt;
    const std::string line = evidenceLine(settings_.isoTime(), probed, lastGood, now);
    const Verdict verdict = evidenceVerdict(lastGood, now);
    if (verdict == Verdict::changed) {
        report("next hop " + dottedText(now.nextHop) + " changed from " + lastGood->linkAddress +
               " to " + now.linkAddress);
    }
    const auto path = settings_.logDirectory / kEvidenceLogName;
    if (const int error = os::appendInOneWrite(path, line, settings_.ownerOnly)) {
        report("cannot append to " + os::pathText(path) + ": " + os::errorText(error));
    }
    if (settings_.systemLog) {
        settings_.systemLog(line, verdict);
    }
}

} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "evidence.h"
#include "system.h"

#include <cstdio>

namespace tarnvik {

namespace {

std::string dotted(Ipv4Value address) {
    const auto octets = ipv4Octets(address);
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." +
           std::to_string(octets[2]) + "." + std::to_string(octets[3]);
}

// Only a dotted address names something to read the tables for.
std::optional<Ipv4Value> parseDotted(const std::string& text) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &end) != 4 || a > 255 ||
        b > 255 || c > 255 || d > 255 || (a | b | c | d) == 0) {
        return std::nullopt;
    }
    return ipv4FromOctets(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                          static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d));
}

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

} // namespace

std::string evidenceVerdict(const std::optional<NeighbourReading>& lastGood,
                            const NeighbourReading& now) {
    if (now.local) {
        return "local";
    }
    if (!lastGood || lastGood->linkAddress.empty()) {
        return "unknown";
    }
    if (now.linkAddress.empty()) {
        return "unresolved";
    }
    return now.linkAddress == lastGood->linkAddress ? "unchanged" : "changed";
}

std::string evidenceLine(const std::string& isoTime, const std::string& probed,
                         const std::optional<NeighbourReading>& lastGood,
                         const NeighbourReading& now) {
    const bool local = now.local;
    return isoTime + '\t' + probed + '\t' + (local ? "-" : dotted(now.nextHop)) + '\t' +
           (lastGood ? orDash(lastGood->linkAddress) : "-") + '\t' + orDash(now.linkAddress) +
           '\t' + (local ? "-" : now.state) + '\t' + evidenceVerdict(lastGood, now) + '\n';
}

EvidenceRecorder::EvidenceRecorder(EvidenceSettings settings) : settings_(std::move(settings)) {}

void EvidenceRecorder::report(const std::string& line) const {
    if (settings_.report) {
        settings_.report(line);
    }
}

void EvidenceRecorder::answered(const std::string& probed) {
    const auto address = parseDotted(probed);
    NeighbourReading reading;
    if (!address || settings_.read(*address, reading) != 0) {
        return;
    }
    lastProbed_ = probed;
    lastGood_ = reading;
}

void EvidenceRecorder::failed(const std::string& probed) {
    const auto address = parseDotted(probed);
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
    const std::string verdict = evidenceVerdict(lastGood, now);
    if (verdict == "changed") {
        report("next hop " + dotted(now.nextHop) + " changed from " + lastGood->linkAddress +
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

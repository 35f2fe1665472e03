// SPDX-License-Identifier: MIT
// The evidence behind each attack line: what the neighbour table held for the next hop toward the
// probed address when the echo failed, beside what it held at the last answered probe. One line
// per failed probe in arp_evidence.log beside the attack log, UTF-8, tab-separated:
//   time  probed  next-hop  last-good-MAC|-  MAC-now|-  state-now  verdict
#pragma once

#include "neighbour.h"
#include "verdict.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tarnvik {

inline constexpr const char* kEvidenceLogName = "arp_evidence.log";

// What the two readings say; readings of two different next hops compare as unknown.
Verdict evidenceVerdict(const std::optional<NeighbourReading>& lastGood,
                        const NeighbourReading& now);

// One line of the evidence log, LF included.
std::string evidenceLine(const std::string& isoTime, const std::string& probed,
                         const std::optional<NeighbourReading>& lastGood,
                         const NeighbourReading& now);

struct EvidenceSettings {
    std::filesystem::path logDirectory;
    // The local time in ISO 8601 with its offset.
    std::function<std::string()> isoTime;
    std::function<int(Ipv4Value, NeighbourReading&)> read;
    // Where failures and a changed link-layer address are reported.
    std::function<void(const std::string&)> report;
    // The system's own log: the line's fields and the verdict; failures there are its own.
    std::function<void(const std::string& line, Verdict verdict)> systemLog;
    // The log is created readable by this user alone (it sits in a private directory).
    bool ownerOnly = false;
};

class EvidenceRecorder {
  public:
    explicit EvidenceRecorder(EvidenceSettings settings);

    // After an answered probe: notes the next hop's entry as the last good one.
    void answered(const std::string& probed);
    // On a failed probe, before the flush: reads the table as the failure left it and records.
    void failed(const std::string& probed);

  private:
    void report(const std::string& line) const;

    EvidenceSettings settings_;
    std::string lastProbed_;
    std::optional<NeighbourReading> lastGood_;
};

} // namespace tarnvik

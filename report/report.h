// SPDX-License-Identifier: MIT
// The attacks across a LAN's desks, from the evidence records the collector gathered (one JSON
// object a line, as arp_evidence.jsonl holds them). What arrives from the network is hostile: a
// line that is no record of ours is counted and skipped, and no value ever reaches a terminal
// unescaped.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvik::report {

using Seconds = std::int64_t; // since 1970, UTC

// An RFC 3339 time (2026-12-08T10:00:00+01:00, Z, fractions) as seconds; none if it is not one.
std::optional<Seconds> parseTime(std::string_view text);

// A time as the record gave it, with its seconds for comparing.
struct Stamp {
    Seconds seconds = 0;
    std::string text;
};

// One attacker's link-layer address, across desks.
struct Campaign {
    std::string attacker;
    std::set<std::string> impersonated;
    std::set<std::string> desks;
    std::set<std::string> heldBy; // desks that held the genuine address after it came
    Stamp first, last;
    bool going = false;
};

struct Move {
    std::string desk, nextHop, from, to;
    Stamp time;
};

struct Unanswered {
    std::string desk, probed;
    int failures = 0;
    Stamp last;
};

// Records longer than this are no record of ours: counted, never parsed.
inline constexpr std::size_t kLongestRecord = 64 * 1024;
// A campaign is still going while its last record is at most this old.
inline constexpr Seconds kStillGoing = 60;

class Report {
  public:
    explicit Report(std::optional<Seconds> since = std::nullopt);
    ~Report();
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    // One line, without its line end.
    void add(std::string_view line);

    std::vector<Campaign> campaigns(Seconds now) const;
    const std::vector<Move>& moves() const { return moves_; }
    std::vector<Unanswered> unanswered() const;
    std::uint64_t records() const { return records_; }
    std::uint64_t unreadable() const { return unreadable_; }

  private:
    struct Parser;
    struct Attack {
        Campaign campaign;
        std::map<std::string, Seconds> firstOnDesk;
    };

    std::unique_ptr<Parser> parser_; // the JSON library stays out of this header
    std::optional<Seconds> since_;
    std::map<std::string, Attack> attacks_;
    // The latest hold of each desk's neighbour: desk, then next hop.
    std::map<std::pair<std::string, std::string>, Seconds> holds_;
    std::vector<Move> moves_;
    std::map<std::pair<std::string, std::string>, Unanswered> unanswered_;
    std::uint64_t records_ = 0, unreadable_ = 0;
};

// The report in words for a terminal, as JSON (one object), or as CSV (one row a campaign).
std::string table(const Report& report, Seconds now);
std::string json(const Report& report, Seconds now);
std::string csv(const Report& report, Seconds now);

} // namespace tarnvik::report

// SPDX-License-Identifier: MIT
#include "report.h"

#include <gtest/gtest.h>

namespace tarnvik::report {
namespace {

TEST(Report, TimesAreRfc3339WithTheirOffset) {
    const std::pair<const char*, std::optional<Seconds>> cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2026-12-08T10:00:00+00:00", 1796724000},
        {"2026-12-08T11:00:00.123+01:00", 1796724000},
        {"2026-12-08t04:30:00-05:30", 1796724000},
        {"2024-02-29T00:00:00Z", 1709164800},
        {"2026-12-08T10:00:00", std::nullopt},
        {"2026-13-08T10:00:00Z", std::nullopt},
        {"2026-12-08T10:00:00.Z", std::nullopt},
        {"2026-12-08T10:00:00+0100", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, seconds] : cases) {
        EXPECT_EQ(parseTime(text), seconds) << text;
    }
}

std::string record(const char* time, const char* host, const char* verdict, const char* hop,
                   const char* now, const char* extra = "") {
    return std::string("{\"time\":\"") + time + "\",\"host\":\"" + host +
           "\",\"user\":\"u\",\"nested\":{\"a\":[1,2,{\"b\":null}]},\"verdict\":\"" + verdict +
           "\",\"next_hop\":\"" + hop + "\",\"mac_now\":\"" + now +
           "\",\"baseline_mac\":\"02:00:00:00:00:01\",\"probed\":\"198.18.0.9\"" + extra + "}";
}

// One row per attacker's address across desks; holds count only after the attack reached the
// desk; moves and silent targets apart; anything else counted as unreadable, never fatal.
TEST(Report, CampaignsAcrossDesksWithMovesApartAndUnreadableLinesCounted) {
    Report report(parseTime("2026-12-08T09:00:00Z"));
    const char* mallory = "02:00:00:00:00:66";
    const std::string lines[] = {
        record("2026-12-08T10:00:00Z", "desk-1", "changed", "198.18.0.1", mallory),
        record("2026-12-08T10:00:02+00:00", "desk-2", "changed", "198.18.0.1", mallory),
        record("2026-12-08T10:00:09Z", "desk-2", "changed", "fe80::1%eth0", mallory),
        record("2026-12-08T10:00:03Z", "desk-2", "held", "198.18.0.1", "02:00:00:00:00:01"),
        // desk-1's hold came before the attack reached it: not held off.
        record("2026-12-08T09:59:00Z", "desk-1", "held", "198.18.0.1", "02:00:00:00:00:01"),
        record("2026-12-08T10:00:04Z", "desk-3", "new-router", "fe80::9%eth0", "02:00:00:00:00:77"),
        record("2026-12-08T10:00:05Z", "desk-3", "moved", "198.18.0.1", "02:00:00:00:00:88"),
        record("2026-12-08T10:00:06Z", "desk-3", "unchanged", "198.18.0.1", "02:00:00:00:00:01"),
        record("2026-12-08T10:00:07Z", "desk-3", "unresolved", "198.18.0.1", ""),
        // Before --since: counted as a record, not reported.
        record("2026-12-08T08:00:00Z", "desk-9", "changed", "198.18.0.1", mallory),
        // Nesting deeper than any parser's stack, in a field nobody reads, is skipped over.
        "{\"time\":\"2026-12-08T10:00:00Z\",\"host\":\"d\",\"verdict\":\"x\",\"x\":" +
            std::string(5000, '[') + std::string(5000, ']') + "}",
        // CRLF line ends and blank lines are no fault.
        record("2026-12-08T10:00:08Z", "desk-4", "announced", "198.18.0.1", "x") + "\r",
        "",
        "   ",
    };
    const std::string unreadable[] = {
        "not json",
        "[1,2,3]",
        "{\"time\":\"2026-12-08T10:00:00Z\",\"verdict\":\"changed\"}", // no host
        record("last tuesday", "desk-5", "changed", "198.18.0.1", mallory),
        record("2026-12-08T10:00:00Z", "desk-5", "changed", "198.18.0.1", mallory) + " trailing",
        "{\"time\":\"2026-12-08T10:00:00Z\",\"host\":" + std::string(5000, '[') +
            std::string(5000, ']') + ",\"verdict\":\"changed\"}",
        "{\"time\":\"2026-12-08T10:00:00Z\",\"host\":\"d\xff\xfe\",\"verdict\":\"changed\"}",
        std::string("{\"time\":\"2026-12-08T10:00:00Z\",\"host\":\"d\0\",\"verdict\":\"x\"}", 57),
        "{\"time\":\"2026-12-08T10:00:00Z\",\"host\":\"" + std::string(kLongestRecord, 'a') + "\"}",
        "{\"time\":\"2026-12-08T10:00:00Z\",\"host\":7,\"verdict\":\"changed\"}",
        "{\"time\":\"2026-12-08T10:00:00Z\",\"host\":\"d\",\"verdict\":\"changed\"",
    };
    for (const auto& line : lines) {
        report.add(line);
    }
    for (const auto& line : unreadable) {
        report.add(line);
    }
    EXPECT_EQ(report.records(), 12u);
    EXPECT_EQ(report.unreadable(), std::size(unreadable));

    const auto now = *parseTime("2026-12-08T10:01:05Z");
    const auto campaigns = report.campaigns(now);
    ASSERT_EQ(campaigns.size(), 2u);
    const auto& first = campaigns[0];
    EXPECT_EQ(first.attacker, mallory);
    EXPECT_EQ(first.impersonated, (std::set<std::string>{"198.18.0.1", "fe80::1%eth0"}));
    EXPECT_EQ(first.desks, (std::set<std::string>{"desk-1", "desk-2"}));
    EXPECT_EQ(first.heldBy, std::set<std::string>{"desk-2"});
    EXPECT_EQ(first.first.text, "2026-12-08T10:00:00Z");
    EXPECT_EQ(first.last.text, "2026-12-08T10:00:09Z");
    EXPECT_TRUE(first.going) << "a record 56 s before now";
    EXPECT_EQ(campaigns[1].attacker, "02:00:00:00:00:77");
    EXPECT_FALSE(campaigns[1].going) << "its last record 61 s before now";

    ASSERT_EQ(report.moves().size(), 1u);
    EXPECT_EQ(report.moves()[0].to, "02:00:00:00:00:88");
    const auto silent = report.unanswered();
    ASSERT_EQ(silent.size(), 1u);
    EXPECT_EQ(silent[0].desk, "desk-3");
    EXPECT_EQ(silent[0].failures, 2);
}

// What the network sent reaches a terminal or a spreadsheet only as text.
TEST(Report, HostileValuesAreShownAsText) {
    Report report;
    report.add(record("2026-12-08T10:00:00Z", "desk\\u001b[2J", "changed", "=cmd|' /C calc'!A0",
                      "02:00:00:00:00:66"));
    const auto now = *parseTime("2026-12-08T10:00:00Z");
    EXPECT_NE(table(report, now).find("desk\\x1b[2J"), std::string::npos) << table(report, now);
    EXPECT_EQ(table(report, now).find('\x1b'), std::string::npos);
    EXPECT_NE(csv(report, now).find("\"'=cmd|' /C calc'!A0\""), std::string::npos)
        << csv(report, now);
    EXPECT_NE(json(report, now).find("\"desk\\u001b[2J\""), std::string::npos) << json(report, now);
}

} // namespace
} // namespace tarnvik::report

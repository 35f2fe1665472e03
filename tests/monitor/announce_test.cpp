// SPDX-License-Identifier: MIT
// The announcements of an attack episode: when they start and end, what goes out and what is
// recorded, on a clock the test moves.
#include "announce.h"

#include <gtest/gtest.h>

namespace tarnvik {
namespace {

TEST(Announcer, TellsTheGenuineNextHopFromTheFirstSignUntilThirtySecondsAfterTheLast) {
    auto now = AnnounceSettings::Clock::time_point{};
    std::vector<NeighbourReading> sent;
    os::RunOutcome outcome{};
    std::vector<EvidenceRecord> records;
    std::vector<std::string> failures;
    Announcer announcer(
        {[&](const NeighbourReading& to) { return sent.push_back(to), outcome; },
         [](int index) { return index == 2 ? "02:00:00:00:00:01" : ""; }, [&] { return now; },
         std::launch::deferred},
        [&](const EvidenceRecord& record) { records.push_back(record); },
        [&](const std::string& line) { failures.push_back(line); });
    const NeighbourReading gateway{false, ipv4FromOctets(198, 18, 0, 1), 2, "02:00:00:00:00:02",
                                   "REACHABLE"};
    const auto tick = [&](std::chrono::milliseconds later) {
        now += later;
        return announcer.tick();
    };

    EXPECT_FALSE(tick(kAnnounceInterval)) << "no attack, nothing told";
    announcer.sign(gateway, "198.18.0.2");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(evidenceLine("t", records[0]), "t\t198.18.0.2\t198.18.0.1\t02:00:00:00:00:02\t"
                                             "02:00:00:00:00:01\tstarted\tannounced\t-\n");
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(tick(kAnnounceInterval));
    }
    announcer.sign(gateway, "198.18.0.2");
    EXPECT_EQ(records.size(), 1u) << "one episode, one start";
    EXPECT_TRUE(tick(std::chrono::seconds(29)));
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent.back().linkAddress, "02:00:00:00:00:02") << "only to the genuine address";
    EXPECT_FALSE(tick(std::chrono::seconds(2))) << "30 s after the last sign";
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].now.state, "ended");
    const auto sentInEpisode = sent.size();
    EXPECT_FALSE(tick(kAnnounceInterval));
    EXPECT_EQ(sent.size(), sentInEpisode);

    // A hold shows no sign: the announcements last as long as it does. A failure is told once
    // per episode; a stop ends the episode at once.
    outcome = {50, 0, false};
    announcer.sign(gateway, "198.18.0.2");
    announcer.held(true);
    EXPECT_TRUE(tick(kAnnounceInterval));
    EXPECT_TRUE(tick(std::chrono::minutes(5)));
    EXPECT_TRUE(tick(kAnnounceInterval));
    EXPECT_EQ(failures.size(), 1u);
    announcer.stop();
    EXPECT_FALSE(announcer.announcing());
    EXPECT_EQ(records.size(), 4u);
    EXPECT_EQ(records.back().now.state, "ended");
}

} // namespace
} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "notices.h"

#include <gtest/gtest.h>

namespace tarnvik {
namespace {

// One notice per episode: a silent target once it has failed twice in a row and once it has
// answered twice in a row again, each at most once a minute; nothing for a target that loses every
// other echo; a change each time, but at most once a minute per target.
TEST(AttackNotices, OneNoticePerEpisode) {
    std::vector<Notice> told;
    AttackNotices::Clock::time_point now{};
    AttackNotices notices([&](const Notice& notice) { told.push_back(notice); },
                          [&] { return now; });
    const Ipv4Value hop = ipv4FromOctets(198, 18, 0, 2);
    const NeighbourReading genuine{.nextHop = hop,
                                   .interfaceIndex = 2,
                                   .linkAddress = "02:00:00:00:00:02",
                                   .state = "REACHABLE"};
    auto forged = genuine;
    forged.linkAddress = "02:00:00:00:00:03";
    const EvidenceRecord silent{"198.18.0.2", genuine, genuine, Verdict::unchanged, std::nullopt};
    const EvidenceRecord changed{"198.18.0.2", genuine, forged, Verdict::changed, "198.18.0.3"};

    for (int tick = 0; tick < 60; ++tick) {
        now += std::chrono::seconds(1);
        if (tick % 2 == 0) {
            notices.recorded(silent);
        } else {
            notices.answered("198.18.0.2");
        }
    }
    EXPECT_TRUE(told.empty()) << "every other echo lost is no episode";
    for (int tick = 0; tick < 5; ++tick) {
        notices.recorded(silent);
    }
    notices.answered("198.18.0.2");
    notices.answered("198.18.0.2");
    notices.recorded(silent);
    notices.recorded(silent); // within the minute: not told again
    notices.answered("198.18.0.2");
    notices.answered("198.18.0.2");
    notices.recorded(changed);
    now += std::chrono::seconds(59);
    notices.recorded(changed);
    now += std::chrono::seconds(2);
    notices.recorded(changed);
    notices.failed("www.example.com"); // no evidence: told all the same, by its name
    notices.failed("www.example.com");
    notices.recorded({"198.18.0.2", forged, genuine, Verdict::moved, std::nullopt});

    ASSERT_EQ(told.size(), 6u);
    EXPECT_EQ(told[0].title, "198.18.0.2 does not answer");
    EXPECT_EQ(told[0].body,
              "It stopped answering; its next hop 198.18.0.2 keeps its address 02:00:00:00:00:02.");
    EXPECT_EQ(told[1].title, "198.18.0.2 answers again");
    EXPECT_EQ(told[2].title, "ARP attack on 198.18.0.2");
    EXPECT_EQ(told[2].body, "The link-layer address of 198.18.0.2 changed from 02:00:00:00:00:02 "
                            "to 02:00:00:00:00:03, held by 198.18.0.3.");
    EXPECT_EQ(told[3].title, "ARP attack on 198.18.0.2") << "a minute after the first";
    EXPECT_EQ(told[4].title, "www.example.com does not answer");
    EXPECT_EQ(told[5].title, "Next hop of 198.18.0.2 replaced");
}

} // namespace
} // namespace tarnvik

// SPDX-License-Identifier: MIT
// The IPv6 router watch through one monitoring session: what each reading of the routers tells.
#include "routers.h"

#include <gtest/gtest.h>

namespace tarnvik {
namespace {

Ipv6Router router(std::uint8_t last, const std::string& mac, int interfaceIndex = 2) {
    Ipv6Router r;
    r.interfaceIndex = interfaceIndex;
    r.address = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last};
    r.linkAddress = mac;
    r.state = mac.empty() ? "none" : "STALE";
    return r;
}

std::string told(const std::vector<RouterFinding>& findings) {
    std::string text;
    for (const auto& f : findings) {
        text += std::string(verdictName(f.verdict)) + " " + std::to_string(f.router.address[15]) +
                "%" + std::to_string(f.router.interfaceIndex) + " " + f.genuine + ">" +
                f.router.linkAddress + ";";
    }
    return text;
}

TEST(RouterWatch, TellsChangesNewRoutersAndGoneOnesOncePerEpisode) {
    const std::string a = "02:00:00:00:00:0a", b = "02:00:00:00:00:0b", c = "02:00:00:00:00:0c";
    struct Step {
        std::vector<Ipv6Router> routers;
        bool tick;
        std::string expected;
    };
    const Step steps[] = {
        {{router(1, "")}, true, ""}, // flushed: the first address learnt is the genuine one
        {{router(1, a)}, false, ""}, // learnt
        {{router(1, a)}, true, ""},  // the genuine router's advertisements repeat
        {{router(1, b)}, false, "changed 1%2 02:00:00:00:00:0a>02:00:00:00:00:0b;"},
        {{router(1, b)}, true, ""},   // the same forged address: the same episode
        {{router(1, "")}, false, ""}, // flushed by the repair
        {{router(1, a)}, false, ""},
        {{router(1, b)}, false, "changed 1%2 02:00:00:00:00:0a>02:00:00:00:00:0b;"}, // flip-flop
        {{}, false, "router-gone 1%2 02:00:00:00:00:0a>02:00:00:00:00:0a;"},
        {{router(1, a)}, false, ""},                // restarted with the same address
        {{router(1, a), router(9, "")}, false, ""}, // its advertisement's address comes next
        {{router(1, a), router(9, c)}, false, "new-router 9%2 >02:00:00:00:00:0c;"},
        {{router(1, a), router(9, c)}, true, ""},
        {{router(1, a), router(9, c), router(1, "", 3)}, true, "new-router 1%3 >;"}, // another link
    };
    RouterWatch watch;
    EXPECT_TRUE(watch.observe({router(1, a)}, true).empty()) << "nothing before it is armed";
    watch.arm({router(1, "")}, true);
    int at = 0;
    for (const auto& step : steps) {
        EXPECT_EQ(told(watch.observe(step.routers, step.tick)), step.expected) << "step " << at;
        ++at;
    }
    EXPECT_EQ(watch.addresses().size(), 2u) << "fe80::1 (on two links) and fe80::9 are followed";
    ASSERT_TRUE(watch.confirmed());
    EXPECT_EQ(watch.confirmed()->linkAddress, a) << "the flip-flop confirms the genuine address";

    RouterWatch unproven;
    unproven.arm({router(1, a)}, false);
    for (const auto& mac : {b, a, b}) {
        unproven.observe({router(1, mac)}, true);
    }
    EXPECT_FALSE(unproven.confirmed()) << "an address not learnt after a flush is never held";
}

// Another address that stays through the repair's flush: the genuine one is asked; its answer
// proves the attack (told each tick from then on), its silence while the other answers is a move.
TEST(RouterWatch, AsksWhenTheOtherAddressOutlastsARepairAndMovesOnlyOnTheAnswer) {
    const std::string a = "02:00:00:00:00:0a", b = "02:00:00:00:00:0b", c = "02:00:00:00:00:0c",
                      d = "02:00:00:00:00:0d";
    RouterWatch watch(true);
    watch.arm({router(1, a), router(2, c)}, true);
    const auto tick = [&](const std::string& first, const std::string& second) {
        watch.beginTick();
        return told(watch.observe({router(1, first), router(2, second)}, true));
    };
    EXPECT_EQ(tick(b, c), "changed 1%2 " + a + ">" + b + ";");
    watch.repaired();
    EXPECT_EQ(tick(b, c), "");
    EXPECT_FALSE(watch.question()) << "not before it outlasted the flush";
    EXPECT_EQ(tick(b, c), "");
    ASSERT_TRUE(watch.question());
    EXPECT_EQ(watch.question()->genuine.linkAddress + ">" + watch.question()->suspect, a + ">" + b);
    EXPECT_EQ(told(watch.answered(true, false)), "changed 1%2 " + a + ">" + b + ";");
    EXPECT_EQ(tick(b, c), "changed 1%2 " + a + ">" + b + ";") << "proven: again each tick";
    EXPECT_TRUE(watch.confirmed());

    EXPECT_EQ(tick(a, d), "changed 2%2 " + c + ">" + d + ";");
    watch.repaired();
    tick(a, d);
    tick(a, d);
    EXPECT_TRUE(told(watch.answered(false, false)).empty()) << "unasked: asked again later";
    EXPECT_FALSE(watch.question());
    tick(a, d);
    tick(a, d);
    ASSERT_TRUE(watch.question());
    EXPECT_EQ(told(watch.answered(false, true)), "moved 2%2 " + c + ">" + d + ";");
    EXPECT_EQ(tick(a, d), "") << "the new address is the genuine one";
    EXPECT_EQ(tick(a, c), "changed 2%2 " + d + ">" + c + ";");

    RouterWatch unasked;
    unasked.arm({router(1, a)}, true);
    unasked.beginTick();
    unasked.observe({router(1, b)}, true);
    unasked.repaired();
    int ticks = 0;
    for (std::string found; found.empty() && ticks < 100; ++ticks) {
        unasked.beginTick();
        found = told(unasked.observe({router(1, b)}, true));
    }
    EXPECT_EQ(ticks, kTicksAbsentForAMove) << "nobody to ask: a move once it stayed 30 s";
    EXPECT_FALSE(unasked.question());
    unasked.beginTick();
    EXPECT_TRUE(unasked.observe({router(1, b)}, true).empty());
}

} // namespace
} // namespace tarnvik

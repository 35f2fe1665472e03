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
                f.router.linkAddress + (f.moveProven ? " proven;" : ";");
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
        {{router(1, a)}, false, "watching 1%2 02:00:00:00:00:0a>02:00:00:00:00:0a;"}, // learnt
        {{router(1, a)}, true, ""}, // the genuine router's advertisements repeat
        {{router(1, b)}, false, "changed 1%2 02:00:00:00:00:0a>02:00:00:00:00:0b;"},
        {{router(1, b)}, true, ""},   // the same forged address: the same episode
        {{router(1, "")}, false, ""}, // flushed by the repair
        {{router(1, a)}, false, ""},
        {{router(1, b)}, false, "changed 1%2 02:00:00:00:00:0a>02:00:00:00:00:0b;"}, // flip-flop
        {{}, false, "router-gone 1%2 02:00:00:00:00:0a>02:00:00:00:00:0a;"},
        {{router(1, a)}, false, ""},                // restarted with the same address
        {{router(1, a), router(9, "")}, false, ""}, // its advertisement's address comes next
        {{router(1, a), router(9, c)},
         false,
         "new-router 9%2 >02:00:00:00:00:0c;watching 9%2 02:00:00:00:00:0c>02:00:00:00:00:0c;"},
        {{router(1, a), router(9, c)}, true, ""},
        {{router(1, a), router(9, c), router(1, "", 3)}, true, "new-router 1%3 >;"}, // another link
    };
    RouterWatch watch;
    EXPECT_TRUE(watch.observe({router(1, a)}, true).empty()) << "nothing before it is armed";
    EXPECT_EQ(told(watch.arm({router(1, a)}, false)),
              "watching 1%2 02:00:00:00:00:0a>02:00:00:00:00:0a;");
    EXPECT_EQ(told(watch.arm({router(1, "")}, true)), "");
    int at = 0;
    for (const auto& step : steps) {
        if (step.tick) {
            watch.beginTick();
        }
        EXPECT_EQ(told(watch.observe(step.routers, step.tick)), step.expected) << "step " << at;
        ++at;
    }
    EXPECT_EQ(watch.addresses().size(), 2u) << "fe80::1 (on two links) and fe80::9 are followed";
    const auto& first = watch.known().front().watch;
    EXPECT_TRUE(first.confirmed() && first.baselineProven());
    EXPECT_EQ(first.baseline()->linkAddress, a) << "the flip-flop confirms the genuine address";

    RouterWatch unproven;
    unproven.arm({router(1, a)}, false);
    for (const auto& mac : {b, a, b}) {
        unproven.observe({router(1, mac)}, true);
    }
    EXPECT_FALSE(unproven.known().front().watch.baselineProven())
        << "an address not learnt after a flush is never held";
}

// Another address that stays through the repair's flush: each router's genuine address is asked,
// and each answer counts for the question of the router that was asked alone. Router 1 is
// attacked (its genuine address answers, again each time it is asked); router 2 was replaced
// (its old address silent, the new one answering), and moves only after 30 s of silence. An
// answer about an address the router no longer has counts for nothing.
TEST(RouterWatch, QuestionsOfTwoRoutersNeverCrossAndAMoveTakesThirtySilentSeconds) {
    const std::string a = "02:00:00:00:00:0a", b = "02:00:00:00:00:0b", c = "02:00:00:00:00:0c",
                      d = "02:00:00:00:00:0d";
    RouterWatch watch(true);
    watch.arm({router(1, a), router(2, c)}, true);
    const auto tick = [&] {
        watch.beginTick();
        return told(watch.observe({router(1, b), router(2, d)}, true));
    };
    EXPECT_EQ(tick(), "changed 1%2 " + a + ">" + b + ";changed 2%2 " + c + ">" + d + ";");
    watch.repaired();
    EXPECT_EQ(tick(), "");
    EXPECT_FALSE(watch.known()[0].watch.questionDue()) << "not before it outlasted the flush";
    std::string answers;
    int ticks = 1;
    for (; ticks < 60 && answers.find("moved") == std::string::npos; ++ticks) {
        tick();
        for (auto& known : watch.known()) {
            const auto due = known.watch.questionDue();
            if (!due) {
                continue;
            }
            known.watch.asking(*due);
            const bool one = known.router.address[15] == 1;
            const auto& about =
                *due == Asked::genuine ? known.watch.baseline() : known.watch.suspect();
            const Answer answer =
                one == (*due == Asked::genuine) ? Answer::answered : Answer::silent;
            answers += told(watch.answered(known.router, *due, about->linkAddress, answer));
        }
    }
    EXPECT_EQ(answers.find("changed 2"), std::string::npos) << answers;
    EXPECT_EQ(answers.find("moved 1"), std::string::npos) << answers;
    EXPECT_NE(answers.find("changed 1%2 " + a + ">" + b), std::string::npos) << answers;
    EXPECT_NE(answers.find("moved 2%2 " + c + ">" + d + " proven;"), std::string::npos) << answers;
    EXPECT_GE(ticks, 2 + kTicksAbsentForAMove) << "the old address silent for 30 s first";
    EXPECT_LE(ticks, 45);
    EXPECT_TRUE(watch.known()[0].watch.confirmed());
    EXPECT_TRUE(told(watch.answered(router(1, b), Asked::genuine, c, Answer::answered)).empty())
        << "an answer about another address than the router's";
    EXPECT_EQ(tick(), "changed 1%2 " + a + ">" + b + ";") << "router 1: an attack each tick";

    RouterWatch unasked;
    unasked.arm({router(1, a)}, true);
    unasked.beginTick();
    unasked.observe({router(1, b)}, true);
    unasked.repaired();
    ticks = 0;
    std::string found;
    for (; found.empty() && ticks < 100; ++ticks) {
        unasked.beginTick();
        found = told(unasked.observe({router(1, b)}, true));
    }
    EXPECT_EQ(ticks, kTicksAbsentForAMove) << "nobody to ask: a move once it stayed 30 s";
    EXPECT_EQ(found, "moved 1%2 " + a + ">" + b + ";") << "unproven";
    EXPECT_FALSE(unasked.known().front().watch.questionDue());
    unasked.beginTick();
    EXPECT_TRUE(unasked.observe({router(1, b)}, true).empty());
}

// A flood of router advertisements: no more than kMostRouters are watched, and it is said once.
TEST(RouterWatch, AFloodAddsNoMoreThanSixteenRoutersAndIsToldOnce) {
    RouterWatch watch;
    watch.arm({}, true);
    std::vector<Ipv6Router> flood;
    for (std::uint8_t i = 1; i <= 40; ++i) {
        flood.push_back(router(i, "02:00:00:00:00:" + std::to_string(10 + i)));
    }
    const auto first = told(watch.observe(flood, true));
    const auto count = [&](const std::string& what) {
        int found = 0;
        for (auto at = first.find(what); at != std::string::npos; at = first.find(what, at + 1)) {
            ++found;
        }
        return found;
    };
    EXPECT_EQ(count("new-router"), 16) << first;
    EXPECT_EQ(count("router-flood"), 1) << first;
    EXPECT_EQ(count("router-flood 17%2"), 1) << "told at the seventeenth: " << first;
    EXPECT_EQ(watch.known().size(), kMostRouters);
    EXPECT_EQ(told(watch.observe(flood, true)), "") << "said once";
}

} // namespace
} // namespace tarnvik

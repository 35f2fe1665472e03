// SPDX-License-Identifier: MIT
#include "evidence.h"
#include "repair.h"
#include "system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarnvik {
namespace {

NeighbourReading entry(Ipv4Value hop, const char* mac, const char* state = "REACHABLE") {
    return NeighbourReading{
        .nextHop = hop, .interfaceIndex = 2, .linkAddress = mac, .state = state};
}

TEST(Evidence, LineAndVerdictFromTheTwoReadings) {
    const Ipv4Value hop = ipv4FromOctets(198, 18, 0, 1);
    const auto genuine = entry(hop, "02:00:00:00:00:01");
    const auto forged = entry(hop, "02:00:00:00:00:66", "STALE");
    const auto lost = entry(hop, "", "INCOMPLETE");
    NeighbourReading own;
    own.local = true;
    // The route moved to another router between the baseline and the failure.
    const auto otherRouter = entry(ipv4FromOctets(198, 18, 0, 9), "02:00:00:00:00:09");
    const std::string t = "2026-12-07T09:05:03+01:00";
    struct Case {
        std::optional<NeighbourReading> baseline;
        NeighbourReading now;
        const char* line;
    };
    const Case cases[] = {
        {genuine, forged,
         "\t198.18.0.1\t02:00:00:00:00:01\t02:00:00:00:00:66\tSTALE\tchanged\t-\n"},
        {genuine, genuine,
         "\t198.18.0.1\t02:00:00:00:00:01\t02:00:00:00:00:01\tREACHABLE\tunchanged\t-\n"},
        {genuine, lost, "\t198.18.0.1\t02:00:00:00:00:01\t-\tINCOMPLETE\tunresolved\t-\n"},
        {std::nullopt, forged, "\t198.18.0.1\t-\t02:00:00:00:00:66\tSTALE\tunknown\t-\n"},
        {genuine, own, "\t-\t02:00:00:00:00:01\t-\t-\tlocal\t-\n"},
        {genuine, otherRouter,
         "\t198.18.0.9\t02:00:00:00:00:01\t02:00:00:00:00:09\tREACHABLE\tunknown\t-\n"},
    };
    for (const auto& c : cases) {
        const EvidenceRecord record{"10.0.0.1", c.baseline, c.now,
                                    evidenceVerdict(c.baseline, c.now), std::nullopt};
        EXPECT_EQ(evidenceLine(t, record), t + "\t10.0.0.1" + c.line);
    }
    EXPECT_EQ(evidenceLine(t, {"10.0.0.1", genuine, forged, Verdict::changed, "198.18.0.3"}),
              t + "\t10.0.0.1\t198.18.0.1\t02:00:00:00:00:01\t02:00:00:00:00:66\tSTALE\tchanged"
                  "\t198.18.0.3\n");
}

WatchOutcome answer(NeighbourWatch& watch, Asked asked, Answer answer) {
    watch.asking(asked);
    const auto& about = asked == Asked::genuine ? watch.baseline() : watch.suspect();
    return watch.answered(asked, about ? about->linkAddress : "", answer);
}

// What the watch makes of a run of readings: the first address after arming is the baseline
// (proven when armed after a flush), a change away from it an attack (once a tick), the genuine
// address back and the other again a confirmed flip-flop. The other address staying through a
// flush is a question to the baseline: its answer makes it an attack for as long as it lasts,
// its silence to every question for 30 ticks while the other then answers a proven move; no one
// answer or short silence decides. Where nobody can be asked, a move needs the genuine address
// away for 30 ticks, and is never proven.
TEST(Watch, TellsAttackFlipFlopMoveAndRouteChange) {
    const Ipv4Value hop = ipv4FromOctets(198, 18, 0, 1);
    const auto genuine = entry(hop, "02:00:00:00:00:01");
    const auto forged = entry(hop, "02:00:00:00:00:66");
    const auto gone = entry(hop, "", "none");
    const auto otherRouter = entry(ipv4FromOctets(198, 18, 0, 9), "02:00:00:00:00:09");
    enum Step {
        arm,
        armUnflushed,
        tick,
        repaired,
        see,
        baselineAnswers,
        otherAnswers,
        awhile,
        silentBriefly, // three ticks, the baseline asked whenever due and silent
        silentLong,    // as many such ticks as it takes until the other address is due
    };
    struct Case {
        const char* name;
        std::vector<std::pair<Step, NeighbourReading>> steps;
        std::vector<WatchOutcome> outcomes; // one for each `see`, answer, and `awhile`
        bool confirmed;
        const char* baseline;
        bool proven = true;
        bool canAsk = false;
    };
    using O = WatchOutcome;
    const Case cases[] = {
        {"armed without a flush: the entry as it is, unproven",
         {{armUnflushed, {}}, {see, gone}, {tick, {}}, {see, genuine}, {see, forged}},
         {O::nothing, O::baseline, O::attack},
         false,
         "02:00:00:00:00:01",
         false},
        {"one attack a tick, however often it is seen",
         {{arm, {}}, {see, gone}, {see, genuine}, {tick, {}}, {see, forged}, {see, forged}},
         {O::nothing, O::baseline, O::attack, O::nothing},
         false,
         "02:00:00:00:00:01"},
        {"flip-flop: the genuine address learnt again, then the other again",
         {{arm, {}},
          {see, gone},
          {see, genuine},
          {see, forged},
          {repaired, {}},
          {see, gone},
          {tick, {}},
          {see, genuine},
          {tick, {}},
          {see, forged}},
         {O::nothing, O::baseline, O::attack, O::nothing, O::nothing, O::attack},
         true,
         "02:00:00:00:00:01"},
        {"an attacker that wins every re-resolution: the genuine device answers",
         {{arm, {}},
          {see, gone},
          {see, genuine},
          {see, forged},
          {repaired, {}},
          {see, gone},
          {tick, {}},
          {see, forged},
          {tick, {}},
          {see, forged},
          {baselineAnswers, {}},
          {tick, {}},
          {see, forged},
          {see, forged}},
         {O::nothing, O::baseline, O::attack, O::nothing, O::question, O::nothing, O::attack,
          O::attack, O::nothing},
         true,
         "02:00:00:00:00:01",
         true,
         true},
        {"move: the old address silent to every question for 30 ticks, then the new one answers",
         {{arm, {}},
          {see, gone},
          {see, genuine},
          {see, forged},
          {repaired, {}},
          {tick, {}},
          {see, forged},
          {tick, {}},
          {see, forged},
          {otherAnswers, {}},
          {silentBriefly, forged},
          {otherAnswers, {}},
          {silentLong, forged},
          {otherAnswers, {}},
          {tick, {}},
          {see, forged}},
         {O::nothing, O::baseline, O::attack, O::nothing, O::question, O::nothing, O::nothing,
          O::moved, O::nothing},
         false,
         "02:00:00:00:00:66",
         true,
         true},
        {"one stray answer is not final: a replacement still moves after 30 silent ticks",
         {{arm, {}},
          {see, genuine},
          {see, forged},
          {repaired, {}},
          {tick, {}},
          {tick, {}},
          {see, forged},
          {baselineAnswers, {}},
          {silentLong, forged},
          {otherAnswers, {}}},
         {O::baseline, O::attack, O::question, O::attack, O::moved},
         false,
         "02:00:00:00:00:66",
         true,
         true},
        {"nobody to ask: a move once the genuine address has stayed away 30 ticks",
         {{arm, {}}, {see, genuine}, {see, forged}, {repaired, {}}, {awhile, forged}},
         {O::baseline, O::attack, O::moved},
         false,
         "02:00:00:00:00:66",
         false},
        {"another next hop is never compared: it is armed afresh",
         {{arm, {}},
          {see, gone},
          {see, genuine},
          {tick, {}},
          {see, otherRouter},
          {arm, {}},
          {see, otherRouter}},
         {O::nothing, O::baseline, O::nothing, O::baseline},
         false,
         "02:00:00:00:00:09"},
    };
    for (const auto& c : cases) {
        NextHopWatch watch(c.canAsk);
        std::vector<WatchOutcome> outcomes;
        for (const auto& [step, reading] : c.steps) {
            switch (step) {
            case arm:
            case armUnflushed:
                watch.arm(step == arm);
                break;
            case tick:
                watch.beginTick();
                break;
            case repaired:
                watch.repaired();
                break;
            case see:
                outcomes.push_back(watch.observe(reading));
                break;
            case baselineAnswers:
                outcomes.push_back(answer(watch, Asked::genuine, Answer::answered));
                break;
            case otherAnswers:
                outcomes.push_back(answer(watch, Asked::other, Answer::answered));
                break;
            case silentBriefly:
            case silentLong: {
                int ticks = 0;
                while (step == silentBriefly ? ticks < 3
                                             : watch.questionDue() != Asked::other && ticks < 99) {
                    watch.beginTick();
                    ++ticks;
                    if (watch.observe(reading) == WatchOutcome::moved) {
                        ADD_FAILURE() << c.name << ": moved while asking";
                    }
                    if (watch.questionDue() == Asked::genuine) {
                        answer(watch, Asked::genuine, Answer::silent);
                    }
                }
                EXPECT_TRUE(step == silentBriefly || ticks >= kTicksAbsentForAMove) << c.name;
                break;
            }
            case awhile: // the last outcome of 30 ticks of the same reading
                for (int i = 0; i < kTicksAbsentForAMove; ++i) {
                    watch.beginTick();
                    if (const auto outcome = watch.observe(reading);
                        i + 1 == kTicksAbsentForAMove) {
                        outcomes.push_back(outcome);
                    } else if (outcome != WatchOutcome::nothing) {
                        ADD_FAILURE() << c.name << ": " << static_cast<int>(outcome) << " at " << i;
                    }
                }
                break;
            }
        }
        EXPECT_EQ(outcomes, c.outcomes) << c.name;
        EXPECT_EQ(watch.confirmed(), c.confirmed) << c.name;
        ASSERT_TRUE(watch.baseline()) << c.name;
        EXPECT_EQ(watch.baseline()->linkAddress, c.baseline) << c.name;
        EXPECT_EQ(watch.baselineProven(), c.proven) << c.name;
    }
}

// The failed probe belongs to its own run alone, whatever becomes of its append: a later run
// (after the target answered again) records nothing for it. Only what the probe itself reads
// as an address is read and written; a blank, tab or line break makes it no address.
TEST(Evidence, OnlyProbedAddressesOfTheirOwnRunAreRead) {
    testing::TempDir dir;
    std::vector<Ipv4Value> reads;
    testing::RecordingRepair recorder{dir.path()};
    auto settings = recorder.settings();
    settings.evidence = EvidenceSettings{dir.path(),
                                         [] { return std::string("T"); },
                                         [&](Ipv4Value address, NeighbourReading& reading) {
                                             reads.push_back(address);
                                             reading = entry(address, "02:00:00:00:00:02");
                                             return 0;
                                         },
                                         nullptr,
                                         nullptr,
                                         nullptr};
    RepairAction repair(settings);
    repair.answered("10.0.0.1");
    repair.failed("10.0.0.1");
    std::filesystem::create_directory(recorder.logPath); // the append fails on a directory
    EXPECT_FALSE(repair.run()) << "reported; its evidence is read all the same";
    std::filesystem::remove(recorder.logPath);
    const std::string line =
        "T\t10.0.0.1\t10.0.0.1\t02:00:00:00:00:02\t02:00:00:00:00:02\tREACHABLE\tunchanged\t-\n";
    EXPECT_EQ(testing::readFile(dir.path() / kEvidenceLogName), line);
    for (const char* refused : {" 10.0.0.1", "10.0.0.1\t", "10.0.0.1\n", "10.0.0.1 ", "0.0.0.0",
                                "10.0.0", "www.example.com"}) {
        repair.answered(refused);
        repair.failed(refused);
        EXPECT_TRUE(repair.run()) << refused;
    }
    EXPECT_EQ(reads.size(), 2u) << "no refused text is read";
    repair.answered("10.0.0.1");
    EXPECT_TRUE(repair.run()) << "a repair by hand has no failed probe";
    EXPECT_EQ(testing::readFile(dir.path() / kEvidenceLogName), line);
    repair.failed("10.0.0.1");
    EXPECT_TRUE(repair.run());
    EXPECT_EQ(testing::readFile(dir.path() / kEvidenceLogName), line + line);
}

} // namespace
} // namespace tarnvik

namespace tarnvik {
namespace {

// The journal's socket, in this test process's own mount namespace (see main.cpp): what the
// program sends there is what journald would file.
TEST(Evidence, RecordGoesToTheJournalWithItsFields) {
    if (const auto reason = testing::mountsUnavailable(); !reason.empty()) {
        GTEST_SKIP() << "a journal socket of its own: " << reason;
    }
    const testing::ScopedMount run("tarnvik-test", "/run", "tmpfs", 0, "size=64k,mode=0755");
    ASSERT_TRUE(run.mounted());
    std::filesystem::create_directories("/run/systemd/journal");
    const int journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/systemd/journal/socket");
    ASSERT_EQ(::bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    os::systemLog("2026-12-07T09:05:03+01:00\t198.18.0.2\t198.18.0.2\t02:00:00:00:00:02\t"
                  "02:00:00:00:00:66\tSTALE\tchanged\t198.18.0.3\n",
                  Verdict::changed);
    os::systemRecord(SystemRecord::repairFailure, "cannot start arp\ninjected=1");
    const auto received = [journal] {
        char record[4096] = {};
        const ssize_t got = ::recv(journal, record, sizeof record - 1, MSG_DONTWAIT);
        return std::string(record, static_cast<std::size_t>(got > 0 ? got : 0));
    };
    const std::string evidence = received();
    const std::string failure = received();
    ::close(journal);
    for (const char* field :
         {"SYSLOG_IDENTIFIER=tarnvik\n", "TARNVIK_VERDICT=changed\n", "TARNVIK_PROBED=198.18.0.2\n",
          "TARNVIK_MAC_NOW=02:00:00:00:00:66\n", "PRIORITY=4\n"}) {
        EXPECT_NE(evidence.find(field), std::string::npos) << field << " in " << evidence;
    }
    EXPECT_EQ(failure, "MESSAGE=cannot start arp\nPRIORITY=3\nSYSLOG_IDENTIFIER=tarnvik\n"
                       "TARNVIK_RECORD=repair-failure\n");
}

} // namespace
} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "evidence.h"
#include "evidence_twins.h"
#include "system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace tarnvik {
namespace {

// What arrives at a collector is read by parsers of every kind: whatever a value holds, the
// record stays one line of valid JSON that gives the value back.
TEST(EvidenceJson, EveryValueStaysOneLineOfValidJson) {
    const std::pair<std::string, std::string> cases[] = {
        {"tab\there", "tab\there"},
        {"quote \" and \\ backslash", "quote \" and \\ backslash"},
        {"line\nbreak\r", "line\nbreak\r"},
        {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
        {"\x1b[31mred\x7f", "\x1b[31mred\x7f"},
        {"以太网 ✓", "以太网 ✓"},
        // Bytes of no character: a lone continuation, an overlong '/', a surrogate, cut short.
        {"a\x80z", "a\xef\xbf\xbdz"},
        {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"\xe4\xb8", "\xef\xbf\xbd\xef\xbf\xbd"},
        {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
    };
    for (const auto& [value, readBack] : cases) {
        const auto line = evidenceJson(value,
                                       {value, std::nullopt,
                                        NeighbourReading{.interfaceIndex = 2, .linkAddress = value},
                                        Verdict::unknown, value},
                                       {value, value, value, value});
        EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
        const auto json = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(json.is_discarded()) << line;
        for (const char* name :
             {"time", "host", "user", "interface", "mac", "probed", "mac_now", "attacker_ip"}) {
            EXPECT_EQ(json[name], readBack) << name << " of " << line;
        }
    }
}

// Each kind of record, IPv4 and an IPv6 router's, says the same in both logs.
TEST(EvidenceJson, EachLogLineHasItsTwin) {
    const auto hop = NeighbourReading{.nextHop = ipv4FromOctets(198, 18, 0, 1),
                                      .interfaceIndex = 2,
                                      .linkAddress = "02:00:00:00:00:01",
                                      .state = "REACHABLE"};
    auto forged = hop;
    forged.linkAddress = "02:00:00:00:00:66";
    auto router = hop;
    router.nextHop = 0;
    router.ipv6 = "fe80::1%eth0";
    auto rogue = router;
    rogue.linkAddress = "02:00:00:00:00:66";
    rogue.state = "STALE";
    NeighbourReading own;
    own.local = true;
    const EvidenceRecord records[] = {
        {"198.18.0.2", hop, forged, Verdict::changed, "198.18.0.3"},
        {"198.18.0.2", hop, hop, Verdict::unchanged, std::nullopt},
        {"198.18.0.2", std::nullopt, forged, Verdict::unknown, std::nullopt},
        {"127.0.0.1", hop, own, Verdict::local, std::nullopt},
        {"198.18.0.2", router, rogue, Verdict::changed, "fe80::66%eth0", true},
        {"198.18.0.2", std::nullopt, rogue, Verdict::newRouter, std::nullopt},
    };
    for (const auto& record : records) {
        const std::string time = "2026-12-07T09:05:03+01:00";
        auto line = evidenceLine(time, record);
        line.pop_back();
        EXPECT_EQ(
            testing::twinMismatch(
                line, evidenceJson(time, record, {"desk", "ana", "eth0", "02:00:00:00:00:10"})),
            "")
            << line;
    }
}

// Two copies append at once across the rotation: it happens once, and every record is in the
// file or the previous one, in the order each copy wrote it.
TEST(EvidenceJson, RotationKeepsEveryRecord) {
    testing::TempDir dir;
    const auto path = dir.path() / kEvidenceJsonName;
    constexpr int kEach = 400;
    constexpr std::uintmax_t kLimit = 4000; // the two write 6400 bytes
    const auto write = [&](char copy) {
        for (int i = 0; i < kEach; ++i) {
            const std::string line = std::string(1, copy) + std::to_string(100000 + i) + "\n";
            if (os::appendRotated(path, line, kLimit) != 0) {
                return false;
            }
        }
        return true;
    };
    const pid_t other = ::fork();
    if (other == 0) {
        ::_exit(write('b') ? 0 : 1);
    }
    ASSERT_TRUE(write('a'));
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string previous = testing::readFile(dir.path() / "arp_evidence.jsonl.1");
    const std::string current = testing::readFile(path);
    EXPECT_LE(previous.size(), kLimit);
    EXPECT_GT(previous.size(), kLimit * 3 / 4) << "rotated once, when full";
    std::map<char, int> next{{'a', 100000}, {'b', 100000}};
    std::istringstream lines(previous + current);
    for (std::string line; std::getline(lines, line);) {
        ASSERT_EQ(line.size(), 7u) << line;
        EXPECT_EQ(std::stoi(line.substr(1)), next[line[0]]++) << line;
    }
    EXPECT_EQ(next['a'], 100000 + kEach);
    EXPECT_EQ(next['b'], 100000 + kEach);
}

} // namespace
} // namespace tarnvik

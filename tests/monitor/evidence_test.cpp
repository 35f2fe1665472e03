// SPDX-License-Identifier: MIT
#include "evidence.h"
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

TEST(Evidence, LineAndVerdictFromTheTwoReadings) {
    const Ipv4Value hop = ipv4FromOctets(198, 18, 0, 1);
    const NeighbourReading genuine{false, hop, "02:00:00:00:00:01", "REACHABLE"};
    const NeighbourReading forged{false, hop, "02:00:00:00:00:66", "STALE"};
    const NeighbourReading lost{false, hop, "", "INCOMPLETE"};
    const NeighbourReading own{true, 0, "", "none"};
    const std::string t = "2026-12-07T09:05:03+01:00";
    struct Case {
        std::optional<NeighbourReading> lastGood;
        NeighbourReading now;
        const char* line;
    };
    const Case cases[] = {
        {genuine, forged, "\t198.18.0.1\t02:00:00:00:00:01\t02:00:00:00:00:66\tSTALE\tchanged\n"},
        {genuine, genuine,
         "\t198.18.0.1\t02:00:00:00:00:01\t02:00:00:00:00:01\tREACHABLE\tunchanged\n"},
        {genuine, lost, "\t198.18.0.1\t02:00:00:00:00:01\t-\tINCOMPLETE\tunresolved\n"},
        {std::nullopt, forged, "\t198.18.0.1\t-\t02:00:00:00:00:66\tSTALE\tunknown\n"},
        {genuine, own, "\t-\t02:00:00:00:00:01\t-\t-\tlocal\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(evidenceLine(t, "10.0.0.1", c.lastGood, c.now), t + "\t10.0.0.1" + c.line);
    }
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
                  "02:00:00:00:00:66\tSTALE\tchanged\n",
                  "changed");
    char record[4096] = {};
    const ssize_t got = ::recv(journal, record, sizeof record - 1, MSG_DONTWAIT);
    ::close(journal);
    ASSERT_GT(got, 0);
    const std::string fields(record, static_cast<std::size_t>(got));
    for (const char* field :
         {"SYSLOG_IDENTIFIER=tarnvik\n", "TARNVIK_VERDICT=changed\n", "TARNVIK_PROBED=198.18.0.2\n",
          "TARNVIK_MAC_NOW=02:00:00:00:00:66\n", "PRIORITY=4\n"}) {
        EXPECT_NE(fields.find(field), std::string::npos) << field << " in " << fields;
    }
}

} // namespace
} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "diagnostics.h"

#include <gtest/gtest.h>

namespace tarnvik {
namespace {

TEST(StartupDiagnostics, SilentWhenAllIsWell) {
    StartupFacts facts{EchoSocketKind::Datagram, false, "/usr/bin/tarnvik-flush", true, true};
    EXPECT_TRUE(startupDiagnostics(facts).empty());
    facts = {EchoSocketKind::Raw, true, "/opt/t/tarnvik-flush", false, false};
    EXPECT_TRUE(startupDiagnostics(facts).empty()) << "root flushes without the helper";
}

TEST(StartupDiagnostics, NamesEachRemedy) {
    const StartupFacts noSocket{EchoSocketKind::None, false, "/usr/bin/tarnvik-flush", true, true};
    ASSERT_EQ(startupDiagnostics(noSocket).size(), 1u);
    EXPECT_NE(startupDiagnostics(noSocket)[0].render().find("ping_group_range"), std::string::npos);
    EXPECT_EQ(startupDiagnostics(noSocket)[0].render().find("cap_net_raw"), std::string::npos)
        << "the window never carries a capability";

    const StartupFacts uncapable{EchoSocketKind::Datagram, false, "/usr/bin/tarnvik-flush", true,
                                 false};
    ASSERT_EQ(startupDiagnostics(uncapable).size(), 1u);
    EXPECT_NE(startupDiagnostics(uncapable)[0].render().find(
                  "setcap cap_net_admin+ep /usr/bin/tarnvik-flush"),
              std::string::npos);

    const StartupFacts missing{EchoSocketKind::Datagram, false, "/opt/t/tarnvik-flush", false,
                               false};
    ASSERT_EQ(startupDiagnostics(missing).size(), 1u);
    EXPECT_NE(startupDiagnostics(missing)[0].render().find("ip -4 neigh flush all"),
              std::string::npos);
}

TEST(PrintableExcerpt, ReplacesEveryControlCharacterAndCutsOnlyBetweenCharacters) {
    EXPECT_EQ(printableExcerpt("a\tb\x1b[2Jc\x7f\xc2\x9b"
                               "1m"),
              "a?b?[2Jc??1m")
        << "C0, DEL and the C1 introducer U+009B";
    EXPECT_EQ(printableExcerpt("www.时间.example"), "www.时间.example");
    EXPECT_EQ(printableExcerpt("ab时间", 4), "ab...") << "never half a character";
    EXPECT_EQ(printableExcerpt("ab\xe6", 80), "ab\xe6") << "a cut-off sequence stays short";
}

} // namespace
} // namespace tarnvik

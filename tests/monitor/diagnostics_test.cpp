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
    EXPECT_NE(startupDiagnostics(noSocket)[0].find("ping_group_range"), std::string::npos);
    EXPECT_NE(startupDiagnostics(noSocket)[0].find("cap_net_raw"), std::string::npos);

    const StartupFacts uncapable{EchoSocketKind::Datagram, false, "/usr/bin/tarnvik-flush", true,
                                 false};
    ASSERT_EQ(startupDiagnostics(uncapable).size(), 1u);
    EXPECT_NE(
        startupDiagnostics(uncapable)[0].find("setcap cap_net_admin+ep /usr/bin/tarnvik-flush"),
        std::string::npos);

    const StartupFacts missing{EchoSocketKind::Datagram, false, "/opt/t/tarnvik-flush", false,
                               false};
    ASSERT_EQ(startupDiagnostics(missing).size(), 1u);
    EXPECT_NE(startupDiagnostics(missing)[0].find("ip -4 neigh flush all"), std::string::npos);
}

} // namespace
} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "cping.h"
#include "cping_access.h"
#include "fake_platform.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tarnvik {

namespace {

using testing::EchoScript;
using testing::FakePlatform;
using testing::PlatformLog;

struct Event {
    std::string ipAddress;
    std::string successStatus;
    std::int32_t roundTripMilliseconds = 0;
};

class CpingTest : public ::testing::Test {
  protected:
    CpingTest() {
        auto owned = std::make_unique<FakePlatform>(log);
        platform = owned.get();
        platform->hosts = {{"www.example.net", ipv4FromOctets(10, 0, 0, 1)},
                           {"bare", ipv4FromOctets(10, 0, 0, 2)}};
        client = std::make_unique<cping>(std::move(owned));
        client->PingReturn = [this](std::string& ip, std::string& status, std::int32_t& rtt) {
            events.push_back({ip, status, rtt});
        };
    }

    std::int32_t ping(std::string& target) { return client->Ping(target); }

    std::shared_ptr<PlatformLog> log = std::make_shared<PlatformLog>();
    FakePlatform* platform = nullptr; // owned by the client
    std::unique_ptr<cping> client;
    std::vector<Event> events;
};

TEST_F(CpingTest, TimeoutStartsAt1000AndIsPassedAsItsBitPattern) {
    EXPECT_EQ(client->pingTimeout(), 1000);
    std::string target = "10.0.0.1";
    ping(target);
    client->pingTimeout(0);
    ping(target);
    client->pingTimeout(-1);
    ping(target);
    ASSERT_EQ(log->echoes.size(), 3u);
    EXPECT_EQ(log->echoes[0].wait, 1000u);
    EXPECT_EQ(log->echoes[1].wait, 0u);
    EXPECT_EQ(log->echoes[2].wait, 0xFFFFFFFFu);
    std::string web = "www.example.net";
    ping(web);
    EXPECT_EQ(log->lookupWaits, std::vector<std::uint32_t>{0xFFFFFFFFu}) << "as long as the echo";
}

TEST_F(CpingTest, AnsweredDottedTarget) {
    platform->echo = EchoScript{1, 0, 3};
    std::string target = "10.0.0.1";
    EXPECT_EQ(ping(target), 3);
    EXPECT_EQ(target, "10.0.0.1");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].ipAddress, "10.0.0.1");
    EXPECT_EQ(events[0].successStatus, "success");
    EXPECT_EQ(events[0].roundTripMilliseconds, 3);
    ASSERT_EQ(log->echoes.size(), 1u);
    EXPECT_EQ(ipv4Octets(log->echoes[0].destination), (std::array<std::uint8_t, 4>{10, 0, 0, 1}));
    const std::string sent(log->echoes[0].data.begin(), log->echoes[0].data.end());
    EXPECT_EQ(sent, "Echo This");
    EXPECT_EQ(log->opens, 1);
    EXPECT_EQ(log->closes, 1);
    EXPECT_EQ(log->startups, log->cleanups);
}

TEST_F(CpingTest, TargetsThatDoNotConvertProbeDestinationZero) {
    platform->echo = EchoScript{0, ip_status::badDestination, 0};
    for (std::string target : {"10.0.0", "", "1.2.3.4.5", "a.b.c.d"}) {
        SCOPED_TRACE(target);
        events.clear();
        const std::string typed = target;
        EXPECT_EQ(ping(target), -static_cast<std::int32_t>(ip_status::badDestination));
        EXPECT_EQ(log->echoes.back().destination, 0u);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].ipAddress, typed);
        EXPECT_EQ(events[0].successStatus, "failure");
    }
    EXPECT_TRUE(log->lookups.empty());
}

TEST_F(CpingTest, ErrorReplyReturnsRoundTripWhileTimeoutReturnsNegatedStatus) {
    std::string target = "10.0.0.9";
    platform->echo = EchoScript{1, ip_status::destHostUnreachable, 7};
    EXPECT_EQ(ping(target), 7);
    platform->echo = EchoScript{0, ip_status::timedOut, 0};
    EXPECT_EQ(ping(target), -11010);
    // Statuses of 2^31 and above negate as 32-bit patterns, never as an overflowing int.
    platform->echo = EchoScript{0, 0x80000000u, 0};
    EXPECT_EQ(ping(target), INT32_MIN);
    platform->echo = EchoScript{0, 0xFFFFFFFFu, 0};
    EXPECT_EQ(ping(target), 1);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].successStatus, "failure");
    EXPECT_EQ(events[0].roundTripMilliseconds, 7);
    EXPECT_EQ(events[1].successStatus, "failure");
    EXPECT_EQ(events[1].roundTripMilliseconds, 0);
}

TEST_F(CpingTest, FailedStartupReportsTheTextUnchanged) {
    platform->startupSucceeds = false;
    std::string target = "www.example.net";
    EXPECT_EQ(ping(target), 0);
    EXPECT_EQ(target, "www.example.net");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].ipAddress, "www.example.net");
    EXPECT_EQ(events[0].successStatus, "failure");
    EXPECT_EQ(events[0].roundTripMilliseconds, 0);
    EXPECT_TRUE(log->lookups.empty());
    EXPECT_EQ(log->opens, 0);
    EXPECT_EQ(log->cleanups, 0);
    EXPECT_EQ(client->funcGetIPFromHostName("www.example.net"), "");
}

TEST_F(CpingTest, WebTargetIsResolvedIntoTheCallersVariable) {
    platform->echo = EchoScript{1, 0, 2};
    std::string target = "http://example.net/index.html";
    EXPECT_EQ(ping(target), 2);
    EXPECT_EQ(target, "10.0.0.1");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].ipAddress, "10.0.0.1");
    EXPECT_EQ(log->lookups, std::vector<std::string>{"www.example.net"});
    // Nested start-up for the resolution, each undone.
    EXPECT_EQ(log->startups, 2);
    EXPECT_EQ(log->cleanups, 2);

    std::string unknown = "www.nowhere.test";
    platform->echo = EchoScript{0, ip_status::badDestination, 0};
    ping(unknown);
    EXPECT_EQ(unknown, "");
    EXPECT_EQ(events.back().ipAddress, "");
    EXPECT_EQ(events.back().successStatus, "failure");
    EXPECT_EQ(log->echoes.back().destination, 0u);
}

TEST_F(CpingTest, LeadingBlankBeforeWwwIsNotResolved) {
    std::string target = " www.example.net";
    ping(target);
    EXPECT_TRUE(log->lookups.empty());
    EXPECT_EQ(target, " www.example.net");
    EXPECT_EQ(log->echoes.back().destination, 0u);
}

TEST_F(CpingTest, NoHandleIsAFailureNotASuccess) {
    platform->handleAvailable = false;
    std::string target = "10.0.0.1";
    EXPECT_EQ(ping(target), -static_cast<std::int32_t>(ip_status::generalFailure));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].successStatus, "failure");
}

TEST_F(CpingTest, HandlerFailureStillClosesAndCleansUp) {
    client->PingReturn = [](std::string&, std::string&, std::int32_t&) {
        throw std::runtime_error("handler failed");
    };
    std::string target = "10.0.0.1";
    EXPECT_THROW(ping(target), std::runtime_error);
    EXPECT_EQ(log->opens, 1);
    EXPECT_EQ(log->closes, 1);
    EXPECT_EQ(log->startups, 1);
    EXPECT_EQ(log->cleanups, 1);
}

TEST_F(CpingTest, WithoutHandlerPingStillProbes) {
    client->PingReturn = nullptr;
    std::string target = "10.0.0.1";
    platform->echo = EchoScript{1, 0, 4};
    EXPECT_EQ(ping(target), 4);
}

TEST_F(CpingTest, HostNameResolution) {
    EXPECT_EQ(client->funcGetIPFromHostName("www.example.net"), "10.0.0.1");
    EXPECT_EQ(client->funcGetIPFromHostName("http://example.net"), "10.0.0.1");
    EXPECT_EQ(client->funcGetIPFromHostName("bare"), "10.0.0.2");
    EXPECT_EQ(client->funcGetIPFromHostName(""), "");
    EXPECT_EQ(client->funcGetIPFromHostName("http"), "");
    EXPECT_EQ(log->lookups,
              (std::vector<std::string>{"www.example.net", "www.example.net", "bare", "", "www."}));
    EXPECT_EQ(log->startups, log->cleanups);
}

TEST_F(CpingTest, NormalizeWithResolutionKeepsTheNameInTheArgument) {
    std::string address = "www.example.net";
    EXPECT_EQ(cpingTestAccess::funcNormalizeAddress(*client, address, false), "10.0.0.1");
    EXPECT_EQ(address, "www.example.net");
}

struct NormalizeCase {
    const char* typed;
    const char* name;
};

class NormalizeTest : public CpingTest, public ::testing::WithParamInterface<NormalizeCase> {};

TEST_P(NormalizeTest, NameOnly) {
    std::string address = GetParam().typed;
    EXPECT_EQ(cpingTestAccess::funcNormalizeAddress(*client, address, true), GetParam().name);
    EXPECT_EQ(address, GetParam().name);
    EXPECT_TRUE(log->lookups.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, NormalizeTest,
    ::testing::Values(NormalizeCase{"http://Example.net", "www.Example.net"},
                      NormalizeCase{"HTTP://WWW.Example.net", "WWW.Example.net"},
                      NormalizeCase{"https://www.example.net", "www.example.net"},
                      NormalizeCase{"https://example.net", "www.example.net"},
                      NormalizeCase{"https://example.net:8443/a/b?c=d#e", "www.example.net"},
                      NormalizeCase{"http://www.example.net:8080", "www.example.net"},
                      NormalizeCase{"http://example.net/", "www.example.net"},
                      NormalizeCase{"http://admin:pw@WWW.example.net:81/a@b", "WWW.example.net"},
                      NormalizeCase{"https://user@example.net", "www.example.net"},
                      NormalizeCase{"http://  example.net  ", "www.example.net"},
                      NormalizeCase{"WwW.Example.net", "WwW.Example.net"},
                      NormalizeCase{" www.example.net", " www.example.net"},
                      NormalizeCase{"httpxyz", "www."}, NormalizeCase{"http", "www."},
                      NormalizeCase{"http:/", "www."}, NormalizeCase{"10.0.0.1", "10.0.0.1"},
                      NormalizeCase{"example.net", "example.net"}, NormalizeCase{"", ""}));

struct AddressCase {
    const char* text;
    std::array<std::uint8_t, 4> octets;
};

class IPTextToAddrTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(IPTextToAddrTest, Converts) {
    const auto value = static_cast<Ipv4Value>(cpingTestAccess::funcIPTextToAddr(GetParam().text));
    EXPECT_EQ(ipv4Octets(value), GetParam().octets);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IPTextToAddrTest,
    ::testing::Values(
        AddressCase{"10.0.0.1", {10, 0, 0, 1}}, AddressCase{"256.1.1.1", {0, 1, 1, 1}},
        AddressCase{"300.0.0.1", {44, 0, 0, 1}}, AddressCase{"-1.0.0.1", {255, 0, 0, 1}},
        AddressCase{"+1.2.3.4", {1, 2, 3, 4}}, AddressCase{"1.2.3.200", {1, 2, 3, 200}},
        AddressCase{"10.0.0", {0, 0, 0, 0}}, AddressCase{"", {0, 0, 0, 0}},
        AddressCase{"1.2.3.4.5", {0, 0, 0, 0}}, AddressCase{"1..2.3", {0, 0, 0, 0}},
        AddressCase{"1.2.3.", {0, 0, 0, 0}}, AddressCase{"a.b.c.d", {0, 0, 0, 0}},
        AddressCase{"1.2.3.4x", {0, 0, 0, 0}}, AddressCase{"1.2.3.+-4", {0, 0, 0, 0}},
        AddressCase{" 1.2.3.4", {0, 0, 0, 0}}, AddressCase{"1.2.3.2147483648", {0, 0, 0, 0}},
        AddressCase{"1.2.3.-2147483648", {1, 2, 3, 0}}));

TEST(IPTextToAddr, HighFirstByteReadsNegative) {
    EXPECT_LT(cpingTestAccess::funcIPTextToAddr("1.2.3.200"), 0);
}

} // namespace
} // namespace tarnvik

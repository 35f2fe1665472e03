// SPDX-License-Identifier: MIT
// The Windows echo layer itself, under Wine: loopback answers, 0.0.0.0 is refused before the ICMP
// library sees it, names come from the hosts file, and every start-up is undone.
#include "cping.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <winsock2.h>

namespace tarnvik {
namespace {

constexpr std::uint8_t kData[] = {'E', 'c', 'h', 'o', ' ', 'T', 'h', 'i', 's'};

TEST(Win32Platform, LoopbackAnswersAndZeroIsRefusedUnsent) {
    const auto platform = makeSystemPlatform();
    ASSERT_TRUE(platform->startup());
    const auto handle = platform->openEcho();
    ASSERT_NE(handle, nullptr);
    EchoReplyRecord reply;
    // The first echo of a session may take a millisecond to set up; the next is immediate.
    ASSERT_EQ(handle->sendEcho(ipv4FromOctets(127, 0, 0, 1), kData, 1000, reply), 1u);
    reply.clear();
    ASSERT_EQ(handle->sendEcho(ipv4FromOctets(127, 0, 0, 1), kData, 1000, reply), 1u);
    EXPECT_EQ(reply.status(), ip_status::success);
    // Whole milliseconds, truncated: 0 on an idle machine, 1 now and then under load.
    EXPECT_LT(reply.roundTripTime(), 100u);
    EXPECT_EQ(std::string(reply.data().begin(), reply.data().end()), "Echo This");

    // The library itself would say 1214; our own refusal says bad destination.
    reply.clear();
    EXPECT_EQ(handle->sendEcho(0, kData, 1000, reply), 0u);
    EXPECT_EQ(reply.status(), ip_status::badDestination);
    platform->cleanup();
}

TEST(Win32Platform, NamesResolveWithoutEverMeaningThisMachine) {
    const auto platform = makeSystemPlatform();
    ASSERT_TRUE(platform->startup());
    EXPECT_EQ(platform->resolveFirstIpv4("localhost", 1000), ipv4FromOctets(127, 0, 0, 1));
    EXPECT_EQ(platform->resolveFirstIpv4("", 1000), std::nullopt)
        << "the empty name is this machine";
    EXPECT_EQ(platform->resolveFirstIpv4(std::string("localhost\0.x", 11), 1000), std::nullopt);
    EXPECT_EQ(platform->addressToText(ipv4FromOctets(10, 0, 0, 1)), "10.0.0.1");
    platform->cleanup();
}

// Run by the network lab inside a namespace whose name server swallows every query.
TEST(Win32Platform, LookupOfASilentNameServerEndsWithinTheWait) {
    char name[256] = {};
    if (::GetEnvironmentVariableA("TARNVIK_SILENT_NAME", name, sizeof name) == 0) {
        GTEST_SKIP() << "needs the lab's silent name server";
    }
    cping client;
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(client.funcGetIPFromHostName(name), "");
    const ULONGLONG took = ::GetTickCount64() - start;
    std::printf("[ figures  ] lookup of %s: %llu ms\n", name, took);
    EXPECT_GE(took, 990u);
    EXPECT_LE(took, 1050u);
}

TEST(Win32Platform, ProbesAndConversionsLeaveWinsockAsTheyFoundIt) {
    // Only names the hosts file knows: nothing here may ask a name server.
    cping client;
    std::string target = "127.0.0.1";
    client.Ping(target);
    EXPECT_EQ(client.Ping(target), 0);
    EXPECT_EQ(client.funcGetIPFromHostName("localhost"), "127.0.0.1");
    EXPECT_EQ(::WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(::WSAGetLastError(), WSANOTINITIALISED);
}

} // namespace
} // namespace tarnvik

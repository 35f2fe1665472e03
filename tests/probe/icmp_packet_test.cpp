// SPDX-License-Identifier: MIT
#include "icmp_packet.h"

#include <gtest/gtest.h>

#include <string_view>

namespace tarnvik::icmp {
namespace {

const Ipv4Value kTarget = ipv4FromOctets(198, 18, 0, 2);
const Ipv4Value kUs = ipv4FromOctets(198, 18, 0, 1);
const ProbeKey kKey{kTarget, 0x1234, 7};
constexpr std::string_view kData = "Echo This";

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

void putAddress(std::vector<std::uint8_t>& bytes, std::size_t at, Ipv4Value address) {
    const auto o = ipv4Octets(address);
    std::copy(o.begin(), o.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// An IPv4 header (with `optionWords` words of options) carrying `payload`.
std::vector<std::uint8_t> ipPacket(Ipv4Value source, Ipv4Value destination,
                                   std::span<const std::uint8_t> payload, int optionWords = 0) {
    const std::size_t headerLength = 20 + 4 * static_cast<std::size_t>(optionWords);
    std::vector<std::uint8_t> packet(headerLength, 0);
    packet[0] = static_cast<std::uint8_t>(0x40 | (headerLength / 4));
    put16(packet, 2, static_cast<std::uint16_t>(headerLength + payload.size()));
    packet[8] = 64;
    packet[9] = 1;
    putAddress(packet, 12, source);
    putAddress(packet, 16, destination);
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

std::vector<std::uint8_t> echoMessage(std::uint8_t type, std::uint16_t id, std::uint16_t seq) {
    auto message = buildEchoRequest(id, seq, bytesOf(kData));
    message[0] = type;
    message[2] = message[3] = 0;
    put16(message, 2, internetChecksum(message));
    return message;
}

// An ICMP error of `type`/`code` quoting the request that went to `quotedDestination`.
std::vector<std::uint8_t> errorMessage(std::uint8_t type, std::uint8_t code,
                                       Ipv4Value quotedDestination, std::uint16_t id,
                                       std::uint16_t seq) {
    const auto request = buildEchoRequest(id, seq, bytesOf(kData));
    const auto quoted = ipPacket(kUs, quotedDestination, request);
    std::vector<std::uint8_t> message(8, 0);
    message[0] = type;
    message[1] = code;
    message.insert(message.end(), quoted.begin(), quoted.begin() + 28);
    put16(message, 2, internetChecksum(message));
    return message;
}

TEST(Checksum, MatchesTheWorkedExampleOfRfc1071) {
    const std::vector<std::uint8_t> bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(internetChecksum(bytes), static_cast<std::uint16_t>(~0xddf2));
    const std::vector<std::uint8_t> odd{0x01};
    EXPECT_EQ(internetChecksum(odd), static_cast<std::uint16_t>(~0x0100));
}

TEST(EchoRequest, IsTypeEightWithOurFieldsAndAValidChecksum) {
    const auto packet = buildEchoRequest(0xBEEF, 0x0102, bytesOf(kData));
    ASSERT_EQ(packet.size(), 17u);
    EXPECT_EQ(packet[0], 8);
    EXPECT_EQ(packet[1], 0);
    EXPECT_EQ(packet[4], 0xBE);
    EXPECT_EQ(packet[5], 0xEF);
    EXPECT_EQ(packet[6], 0x01);
    EXPECT_EQ(packet[7], 0x02);
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(packet.data() + 8), 9), kData);
    EXPECT_EQ(internetChecksum(packet), 0);
}

TEST(RawClassification, GenuineReplyCounts) {
    const auto packet = ipPacket(kTarget, kUs, echoMessage(kEchoReply, 0x1234, 7));
    const auto found = classifyRawPacket(packet, kKey);
    EXPECT_EQ(found.verdict, Verdict::Reply);
    EXPECT_EQ(found.status, 0u);
    EXPECT_EQ(found.source, kTarget);
    EXPECT_EQ(found.ttl, 64);
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(found.data.data()), found.data.size()),
              kData);
}

TEST(RawClassification, ReplyBehindIpOptionsAndLinkPaddingCounts) {
    auto packet = ipPacket(kTarget, kUs, echoMessage(kEchoReply, 0x1234, 7), 2);
    packet.resize(packet.size() + 6, 0);
    const auto found = classifyRawPacket(packet, kKey);
    EXPECT_EQ(found.verdict, Verdict::Reply);
    EXPECT_EQ(found.data.size(), kData.size());
}

TEST(RawClassification, EverythingElseIsIgnored) {
    auto badChecksum = ipPacket(kTarget, kUs, echoMessage(kEchoReply, 0x1234, 7));
    badChecksum.back() ^= 0xFF;
    auto truncated = ipPacket(kTarget, kUs, echoMessage(kEchoReply, 0x1234, 7));
    truncated.resize(24);
    auto notIpv4 = ipPacket(kTarget, kUs, echoMessage(kEchoReply, 0x1234, 7));
    notIpv4[0] = 0x65;
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> others{
        {"wrong identifier", ipPacket(kTarget, kUs, echoMessage(kEchoReply, 0x1235, 7))},
        {"wrong sequence", ipPacket(kTarget, kUs, echoMessage(kEchoReply, 0x1234, 8))},
        {"other source",
         ipPacket(ipv4FromOctets(198, 18, 0, 3), kUs, echoMessage(kEchoReply, 0x1234, 7))},
        {"our own request", ipPacket(kUs, kTarget, echoMessage(kEchoRequest, 0x1234, 7))},
        {"bad checksum", badChecksum},
        {"truncated", truncated},
        {"not IPv4", notIpv4},
        {"empty", {}},
        {"error about another request",
         ipPacket(kTarget, kUs, errorMessage(3, 1, kTarget, 0x1234, 6))},
        {"error about another destination",
         ipPacket(kTarget, kUs, errorMessage(3, 1, ipv4FromOctets(9, 9, 9, 9), 0x1234, 7))},
    };
    for (const auto& [what, packet] : others) {
        SCOPED_TRACE(what);
        EXPECT_EQ(classifyRawPacket(packet, kKey).verdict, Verdict::Unrelated);
    }
}

TEST(RawClassification, ErrorAboutOurRequestCountsFromAnyRouter) {
    const Ipv4Value router = ipv4FromOctets(198, 18, 0, 254);
    const auto packet = ipPacket(router, kUs, errorMessage(3, 1, kTarget, 0x1234, 7));
    const auto found = classifyRawPacket(packet, kKey);
    EXPECT_EQ(found.verdict, Verdict::Error);
    EXPECT_EQ(found.status, ip_status::destHostUnreachable);
    EXPECT_EQ(found.source, router);
}

TEST(DatagramClassification, MatchesOnSourceAndSequence) {
    const auto reply = echoMessage(kEchoReply, 0x1234, 7);
    EXPECT_EQ(classifyDatagram(reply, kTarget, kKey).verdict, Verdict::Reply);
    EXPECT_EQ(classifyDatagram(reply, kUs, kKey).verdict, Verdict::Unrelated);
    EXPECT_EQ(classifyDatagram(echoMessage(kEchoReply, 0x1234, 9), kTarget, kKey).verdict,
              Verdict::Unrelated);
}

TEST(QueuedError, CountsOnlyForOurRequest) {
    const auto request = buildEchoRequest(0x1234, 7, bytesOf(kData));
    const Ipv4Value router = ipv4FromOctets(198, 18, 0, 254);
    const auto ours = classifyQueuedError(request, kTarget, router, 11003, kKey);
    EXPECT_EQ(ours.verdict, Verdict::Error);
    EXPECT_EQ(ours.status, 11003u);
    EXPECT_EQ(ours.source, router);
    EXPECT_EQ(classifyQueuedError(request, kUs, router, 11003, kKey).verdict, Verdict::Unrelated);
    EXPECT_EQ(classifyQueuedError(buildEchoRequest(0x1234, 8, bytesOf(kData)), kTarget, router,
                                  11003, kKey)
                  .verdict,
              Verdict::Unrelated);
}

TEST(Status, IcmpErrorsMapToTheWellKnownNumbers) {
    struct Row {
        std::uint8_t type, code;
        std::uint32_t status;
    };
    const Row rows[] = {{3, 0, 11002},  {3, 1, 11003},  {3, 2, 11004},  {3, 3, 11005},
                        {3, 4, 11009},  {3, 5, 11012},  {3, 6, 11002},  {3, 7, 11003},
                        {3, 9, 11002},  {3, 10, 11003}, {3, 11, 11002}, {3, 13, 11003},
                        {11, 0, 11013}, {11, 1, 11014}, {12, 0, 11015}};
    for (const auto& row : rows) {
        EXPECT_EQ(statusForIcmpError(row.type, row.code), row.status)
            << int(row.type) << "/" << int(row.code);
    }
}

TEST(Status, RefusedSendsAreFailuresNeverSuccess) {
    EXPECT_EQ(statusForSendError(EHOSTUNREACH), ip_status::destHostUnreachable);
    EXPECT_EQ(statusForSendError(ENOBUFS), ip_status::noResources);
    for (int error : {ENETUNREACH, EACCES, EPERM, EINVAL}) {
        EXPECT_EQ(statusForSendError(error), ip_status::generalFailure) << error;
    }
}

} // namespace
} // namespace tarnvik::icmp

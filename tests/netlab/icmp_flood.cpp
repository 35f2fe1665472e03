// SPDX-License-Identifier: MIT
// The lab's hostile neighbour: runs in the target's namespace, whose kernel must not answer echo
// itself, and meets every echo request from the victim with a burst of ICMP that must change
// nothing there (replies with another identifier or sequence, from another source, with a bad
// checksum, cut short; errors about other requests), and between bursts sprays random ICMP at
// the victim. Never an error about the request itself: that would be a real failure.
// In "answer" mode the genuine reply follows each burst, twice (a duplicate), so the victim sees
// the hostile packets first; in "silent" mode it never comes, and every probe must fail.
//
//   icmp_flood VICTIM_IP OTHER_SOURCE_IP answer|silent
//
// Prints "bursts B packets P" after every burst; runs until stopped.
#include "icmp_packet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Request {
    std::uint32_t victim = 0, target = 0; // network byte order
    std::uint16_t identifier = 0, sequence = 0;
    Bytes data;
    Bytes packet; // as it arrived, IP header included
};

Bytes ipPacket(std::uint32_t source, std::uint32_t destination, const Bytes& icmpMessage) {
    Bytes packet(20, 0);
    packet[0] = 0x45;
    packet[8] = 64;
    packet[9] = IPPROTO_ICMP;
    std::memcpy(&packet[12], &source, 4);
    std::memcpy(&packet[16], &destination, 4);
    packet.insert(packet.end(), icmpMessage.begin(), icmpMessage.end());
    const auto length = static_cast<std::uint16_t>(packet.size());
    packet[2] = static_cast<std::uint8_t>(length >> 8);
    packet[3] = static_cast<std::uint8_t>(length);
    const std::uint16_t checksum = tarnvik::icmp::internetChecksum({packet.data(), 20});
    packet[10] = static_cast<std::uint8_t>(checksum >> 8);
    packet[11] = static_cast<std::uint8_t>(checksum);
    return packet;
}

Bytes echoReply(std::uint16_t identifier, std::uint16_t sequence, const Bytes& data) {
    Bytes message = tarnvik::icmp::buildEchoRequest(identifier, sequence, data);
    message[0] = tarnvik::icmp::kEchoReply;
    message[2] = message[3] = 0;
    const std::uint16_t checksum = tarnvik::icmp::internetChecksum(message);
    message[2] = static_cast<std::uint8_t>(checksum >> 8);
    message[3] = static_cast<std::uint8_t>(checksum);
    return message;
}

// An ICMP error quoting `quoted` (an IP packet), with a valid checksum.
Bytes errorAbout(std::uint8_t type, std::uint8_t code, const Bytes& quoted) {
    Bytes message{type, code, 0, 0, 0, 0, 0, 0};
    message.insert(message.end(), quoted.begin(), quoted.end());
    const std::uint16_t checksum = tarnvik::icmp::internetChecksum(message);
    message[2] = static_cast<std::uint8_t>(checksum >> 8);
    message[3] = static_cast<std::uint8_t>(checksum);
    return message;
}

// The victim's request as it would look with another identifier, sequence or destination.
Bytes requestLike(const Request& request, std::uint16_t identifier, std::uint16_t sequence,
                  std::uint32_t destination) {
    return ipPacket(request.victim, destination,
                    tarnvik::icmp::buildEchoRequest(identifier, sequence, request.data));
}

std::vector<Bytes> burst(const Request& r, std::uint32_t other, bool answer) {
    const auto id = r.identifier, seq = r.sequence;
    const auto otherId = static_cast<std::uint16_t>(id ^ 0x5555);
    Bytes badChecksum = echoReply(id, seq, r.data);
    badChecksum[2] ^= 0xFF;
    const Bytes genuine = echoReply(id, seq, r.data);
    std::vector<Bytes> all{
        ipPacket(r.target, r.victim, echoReply(otherId, seq, r.data)),
        ipPacket(r.target, r.victim, echoReply(id, static_cast<std::uint16_t>(seq + 1), r.data)),
        ipPacket(r.target, r.victim, echoReply(id, static_cast<std::uint16_t>(seq - 1), r.data)),
        ipPacket(other, r.victim, echoReply(id, seq, r.data)),
        ipPacket(r.target, r.victim, badChecksum),
        ipPacket(r.target, r.victim, Bytes(genuine.begin(), genuine.begin() + 4)),
        ipPacket(r.target, r.victim, Bytes(genuine.begin(), genuine.begin() + 7)),
        ipPacket(r.target, r.victim, {}),
        ipPacket(
            r.target, r.victim,
            errorAbout(3, 1, requestLike(r, id, static_cast<std::uint16_t>(seq + 1), r.target))),
        ipPacket(r.target, r.victim, errorAbout(3, 3, requestLike(r, otherId, seq, r.target))),
        ipPacket(r.target, r.victim, errorAbout(3, 1, requestLike(r, id, seq, other))),
        ipPacket(r.target, r.victim,
                 errorAbout(3, 1, Bytes(r.packet.begin(), r.packet.begin() + 22))),
        ipPacket(
            other, r.victim,
            errorAbout(11, 0, requestLike(r, id, static_cast<std::uint16_t>(seq - 1), r.target))),
    };
    if (answer) {
        all.push_back(ipPacket(r.target, r.victim, genuine));
        all.push_back(ipPacket(r.target, r.victim, genuine));
    }
    return all;
}

// Random ICMP of types the victim's kernel does not answer or act on (no echo or timestamp
// request, no redirect), from the target or the other source.
Bytes noise(std::mt19937& random, const Request& r, std::uint32_t other) {
    static constexpr std::array<std::uint8_t, 7> kTypes{0, 3, 11, 12, 14, 16, 40};
    Bytes message(std::uniform_int_distribution<std::size_t>(0, 120)(random));
    for (auto& byte : message) {
        byte = static_cast<std::uint8_t>(random());
    }
    if (!message.empty()) {
        message[0] = kTypes[random() % kTypes.size()];
    }
    if (message.size() >= 4 && random() % 2 == 0) {
        message[2] = message[3] = 0;
        const std::uint16_t checksum = tarnvik::icmp::internetChecksum(message);
        message[2] = static_cast<std::uint8_t>(checksum >> 8);
        message[3] = static_cast<std::uint8_t>(checksum);
    }
    return ipPacket(random() % 2 ? r.target : other, r.victim, message);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 4 ? argv[3] : "";
    if (mode != "answer" && mode != "silent") {
        std::fprintf(stderr, "usage: icmp_flood VICTIM_IP OTHER_SOURCE_IP answer|silent\n");
        return 2;
    }
    in_addr victim{}, other{};
    if (::inet_pton(AF_INET, argv[1], &victim) != 1 || ::inet_pton(AF_INET, argv[2], &other) != 1) {
        std::fprintf(stderr, "icmp_flood: not IPv4 addresses\n");
        return 2;
    }
    const int listen = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    const int send = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (listen < 0 || send < 0) {
        std::perror("icmp_flood: socket");
        return 1;
    }
    std::mt19937 random(12345);
    Request last;
    last.victim = victim.s_addr;
    long bursts = 0, packets = 0;
    auto transmit = [&](const Bytes& packet) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr = victim;
        if (::sendto(send, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) > 0) {
            ++packets;
        }
    };
    std::array<std::uint8_t, 2048> buffer{};
    for (;;) {
        pollfd ready{listen, POLLIN, 0};
        if (::poll(&ready, 1, 1) > 0) {
            const ssize_t got = ::recv(listen, buffer.data(), buffer.size(), 0);
            if (got < 28) {
                continue;
            }
            const std::size_t header = std::size_t{buffer[0] & 0x0Fu} * 4;
            std::uint32_t source = 0;
            std::memcpy(&source, &buffer[12], 4);
            if (source != victim.s_addr || buffer[header] != tarnvik::icmp::kEchoRequest ||
                static_cast<std::size_t>(got) < header + 8) {
                continue;
            }
            std::memcpy(&last.target, &buffer[16], 4);
            last.identifier =
                static_cast<std::uint16_t>(buffer[header + 4] << 8 | buffer[header + 5]);
            last.sequence =
                static_cast<std::uint16_t>(buffer[header + 6] << 8 | buffer[header + 7]);
            last.data.assign(buffer.begin() + static_cast<long>(header) + 8, buffer.begin() + got);
            last.packet.assign(buffer.begin(), buffer.begin() + got);
            for (const auto& packet : burst(last, other.s_addr, mode == "answer")) {
                transmit(packet);
            }
            std::printf("bursts %ld packets %ld\n", ++bursts, packets);
            std::fflush(stdout);
        } else if (last.target != 0) {
            transmit(noise(random, last, other.s_addr));
        }
    }
}

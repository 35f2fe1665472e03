// SPDX-License-Identifier: MIT
// An echo responder for lab namespaces whose kernel ignores echo requests
// (net.ipv4.icmp_echo_ignore_all=1). It answers every request after a delay and can first send
// forged replies that a correct prober must ignore.
//
//   echo_responder [--delay MS] [--forge]
//
// Prints "ready" once listening, then one line per request answered. Ends on SIGTERM.
#include "icmp_packet.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnvik;

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

std::vector<std::uint8_t> reply(std::span<const std::uint8_t> request, std::uint16_t id,
                                std::uint16_t seq) {
    std::vector<std::uint8_t> message(request.begin(), request.end());
    message[0] = icmp::kEchoReply;
    put16(message, 2, 0);
    put16(message, 4, id);
    put16(message, 6, seq);
    put16(message, 2, icmp::internetChecksum(message));
    return message;
}

} // namespace

int main(int argc, char** argv) {
    int delayMs = 0;
    bool forge = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--delay" && i + 1 < argc) {
            delayMs = std::stoi(argv[++i]);
        } else if (arg == "--forge") {
            forge = true;
        } else {
            std::fprintf(stderr, "usage: echo_responder [--delay MS] [--forge]\n");
            return 2;
        }
    }
    const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) {
        std::perror("socket");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 28) {
            continue;
        }
        const std::size_t headerLength = std::size_t{buffer[0] & 0x0Fu} * 4;
        const std::span<const std::uint8_t> request(buffer.data() + headerLength,
                                                    static_cast<std::size_t>(got) - headerLength);
        if (request.size() < icmp::kHeaderSize || request[0] != icmp::kEchoRequest) {
            continue;
        }
        const auto id = static_cast<std::uint16_t>(request[4] << 8 | request[5]);
        const auto seq = static_cast<std::uint16_t>(request[6] << 8 | request[7]);
        auto send = [&](const std::vector<std::uint8_t>& message) {
            ::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&from),
                     sizeof from);
        };
        if (forge) {
            send(reply(request, static_cast<std::uint16_t>(id ^ 0x5a5a), seq));
            send(reply(request, id, static_cast<std::uint16_t>(seq + 1)));
            auto corrupt = reply(request, id, seq);
            corrupt[2] ^= 0x01;
            send(corrupt);
        }
        if (delayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        }
        send(reply(request, id, seq));
        std::printf("answered id=%u seq=%u\n", id, seq);
        std::fflush(stdout);
    }
}

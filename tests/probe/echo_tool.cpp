// SPDX-License-Identifier: MIT
// Drives the real platform layer from the command line, for tests that run it inside lab
// namespaces (where `ip netns exec` also supplies the namespace's hosts file).
//
//   echo_tool echo ADDRESS WAIT_MS [ADDRESS WAIT_MS ...] [--signals]
//       one raw echo per pair, one line each:
//       kind=K count=N status=S rtt=R from=A elapsed_ms=E
//   echo_tool ping TARGET        the echo client's event line: ipAddress TAB status TAB rtt
//   echo_tool resolve-timed NAME  the same, and how long the lookup took
//   echo_tool resolve NAME [REST] [dotted text] of the name's first address; with REST, of
//                                NAME, a NUL character and REST
#include "cping.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/time.h>

namespace {

using namespace tarnvik;

const char* kindName(EchoSocketKind kind) {
    switch (kind) {
    case EchoSocketKind::Datagram:
        return "datagram";
    case EchoSocketKind::Raw:
        return "raw";
    case EchoSocketKind::None:
        break;
    }
    return "none";
}

void onAlarm(int) {}

// A stream of signals every 5 ms, without SA_RESTART, so that every wait is interrupted.
void startSignalStorm() {
    struct sigaction action {};
    action.sa_handler = onAlarm;
    ::sigaction(SIGALRM, &action, nullptr);
    itimerval every{{0, 5000}, {0, 5000}};
    ::setitimer(ITIMER_REAL, &every, nullptr);
}

int echo(int argc, char** argv) {
    auto platform = makeSystemPlatform();
    const char* kind = kindName(systemEchoSocketKind());
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--signals") == 0) {
            break;
        }
        const std::string address = argv[i];
        const auto wait = static_cast<std::uint32_t>(std::stoll(argv[i + 1]));
        std::uint32_t destination = 0;
        if (address != "0.0.0.0") {
            // The resolver takes a dotted text as it is, without a lookup.
            destination = platform->resolveFirstIpv4(address, 1000).value_or(0);
        }
        EchoReplyRecord reply;
        const auto started = std::chrono::steady_clock::now();
        const auto handle = platform->openEcho();
        const std::uint8_t data[] = {'E', 'c', 'h', 'o', ' ', 'T', 'h', 'i', 's'};
        const std::uint32_t count = handle ? handle->sendEcho(destination, data, wait, reply) : 0;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        std::printf("kind=%s count=%u status=%u rtt=%u from=%s elapsed_ms=%lld\n", kind, count,
                    reply.status(), reply.roundTripTime(),
                    platform->addressToText(reply.address()).c_str(),
                    static_cast<long long>(elapsed.count()));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: echo_tool echo|ping|resolve ...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--signals") == 0) {
            startSignalStorm();
        }
    }
    const std::string mode = argv[1];
    if (mode == "echo") {
        return echo(argc, argv);
    }
    cping client;
    if (mode == "ping") {
        client.PingReturn = [](std::string& ip, std::string& status, std::int32_t& rtt) {
            std::printf("%s\t%s\t%d\n", ip.c_str(), status.c_str(), rtt);
        };
        std::string target = argv[2];
        client.Ping(target);
        return 0;
    }
    if (mode == "resolve") {
        std::string name = argv[2];
        if (argc > 3) {
            name += '\0' + std::string(argv[3]);
        }
        std::printf("[%s]\n", client.funcGetIPFromHostName(name).c_str());
        return 0;
    }
    if (mode == "resolve-timed") {
        const auto start = std::chrono::steady_clock::now();
        const std::string address = client.funcGetIPFromHostName(argv[2]);
        std::printf("[%s] %lld ms\n", address.c_str(),
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()));
        return 0;
    }
    return 2;
}

// SPDX-License-Identifier: MIT
// tarnvik-flush: empties the ARP cache of its learnt IPv4 entries and exits; with the one word
// "ipv6", the IPv6 neighbour cache instead. It takes no other argument and reads no
// configuration and no environment, so that it can carry cap_net_admin while the window carries
// nothing.
#include "neighbour_flush.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <string_view>

int main(int argc, char** argv) {
    const bool ipv6 = argc == 2 && std::string_view(argv[1]) == "ipv6";
    if (argc > 2 || (argc == 2 && !ipv6)) {
        std::fputs("usage: tarnvik-flush [ipv6]\n", stderr);
        return 2;
    }
    const auto outcome = tarnvik::flushNeighbours(ipv6 ? AF_INET6 : AF_INET);
    if (outcome.error != 0) {
        std::fprintf(stderr, "tarnvik-flush: %s: %s\n", outcome.failure.c_str(),
                     std::strerror(outcome.error));
        return 1;
    }
    return 0;
}

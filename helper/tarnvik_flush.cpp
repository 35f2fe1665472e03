// SPDX-License-Identifier: MIT
// tarnvik-flush: empties the ARP cache of its learnt IPv4 entries and exits. It takes no
// arguments and reads no configuration and no environment, so that it can carry
// cap_net_admin while the window carries nothing.
#include "neighbour_flush.h"

#include <cstdio>
#include <cstring>

int main(int argc, char**) {
    if (argc > 1) {
        std::fputs("tarnvik-flush: takes no arguments\n", stderr);
        return 2;
    }
    const auto outcome = tarnvik::flushIpv4Neighbours();
    if (outcome.error != 0) {
        std::fprintf(stderr, "tarnvik-flush: %s: %s\n", outcome.failure.c_str(),
                     std::strerror(outcome.error));
        return 1;
    }
    return 0;
}

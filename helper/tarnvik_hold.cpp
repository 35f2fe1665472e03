// SPDX-License-Identifier: MIT
// tarnvik-hold: holds one neighbour entry as a permanent one while an attack goes on, or releases
// our hold of one address. It carries cap_net_admin and may be run only by the group tarnvik: a
// helper that anyone could call to set any address to any link-layer address would let every
// local user redirect this machine's traffic. So it takes exactly what it needs, strictly:
//   tarnvik-hold INTERFACE-INDEX ADDRESS LINK-ADDRESS
//   tarnvik-hold --release INTERFACE-INDEX ADDRESS LINK-ADDRESS
// A unicast IPv4 address or an IPv6 link-local one (a router's, its zone the interface index),
// and a unicast link-layer address; anything else is refused with exit status 2. Even then it holds
// only a next hop this machine uses and never replaces a static entry that is not ours (exit status
// 3; neighbour_hold.h). It reads no configuration and no environment.
#include "arguments.h"
#include "neighbour_hold.h"

#include <arpa/inet.h>
#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using tarnvik::interfaceIndex;
using tarnvik::unicastLinkAddress;

int usage() {
    std::fputs("usage: tarnvik-hold INTERFACE-INDEX ADDRESS LINK-ADDRESS\n"
               "       tarnvik-hold --release INTERFACE-INDEX ADDRESS LINK-ADDRESS\n"
               "(a unicast IPv4 address or an IPv6 link-local one, and a unicast link-layer "
               "address such as 02:00:00:00:00:02)\n",
               stderr);
    return 2;
}

// The address's bytes in network order, IPv4 or IPv6 link-local.
std::optional<std::vector<std::uint8_t>> heldAddress(const char* text) {
    if (const auto ipv4 = tarnvik::unicastIpv4(text)) {
        return std::vector<std::uint8_t>(ipv4->begin(), ipv4->end());
    }
    if (const auto ipv6 = tarnvik::linkLocalIpv6(text)) {
        return std::vector<std::uint8_t>(ipv6->begin(), ipv6->end());
    }
    return std::nullopt;
}

int failed(const tarnvik::NeighbourOutcome& outcome) {
    if (!outcome.refusal.empty()) {
        std::fprintf(stderr, "tarnvik-hold: refused: %s\n", outcome.refusal.c_str());
        return 3;
    }
    std::fprintf(stderr, "tarnvik-hold: %s: %s\n", outcome.failure.c_str(),
                 std::strerror(outcome.error));
    return 1;
}

} // namespace

// Root, or a member of the group tarnvik: the file's mode (0750 root:tarnvik) says so already,
// and the helper says it again, where a file system does not.
bool callerMayHold() {
    if (::getuid() == 0) {
        return true;
    }
    const group* allowed = ::getgrnam("tarnvik");
    if (allowed == nullptr) {
        return false;
    }
    if (::getgid() == allowed->gr_gid) {
        return true;
    }
    gid_t groups[NGROUPS_MAX];
    const int count = ::getgroups(NGROUPS_MAX, groups);
    return std::find(groups, groups + std::max(count, 0), allowed->gr_gid) !=
           groups + std::max(count, 0);
}

int main(int argc, char** argv) {
    if (!callerMayHold()) {
        std::fputs("tarnvik-hold: only root and members of the group tarnvik may use it\n", stderr);
        return 1;
    }
    const bool release = argc == 5 && std::string_view(argv[1]) == "--release";
    if (argc != 4 && !release) {
        return usage();
    }
    char** const given = argv + (release ? 2 : 1);
    const auto index = interfaceIndex(given[0]);
    const auto address = heldAddress(given[1]);
    const auto link = unicastLinkAddress(given[2]);
    if (!index || !address || !link) {
        return usage();
    }
    if (release) {
        const auto outcome = tarnvik::releaseHeldNeighbour(*index, *address, *link);
        return outcome.error != 0 ? failed(outcome) : 0;
    }
    const auto outcome = tarnvik::holdNeighbour(*index, *address, *link);
    return outcome.error != 0 || !outcome.refusal.empty() ? failed(outcome) : 0;
}

// SPDX-License-Identifier: MIT
// The neighbour table in a network namespace of the test's own: only the followed addresses'
// changes are queued, and the IPv6 default routers are read with their entries.
#include "ip_text.h"
#include "neighbour.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace tarnvik {
namespace {

// In a child in a fresh namespace: a veth link, entries for four addresses of which two are
// followed; the exit status says what arrived (0: exactly the followed ones).
int followedOnly() {
    if (::unshare(CLONE_NEWNET) != 0) {
        return 77;
    }
    NeighbourEvents events;
    const Ipv4Value followed[] = {ipv4FromOctets(198, 18, 0, 2), ipv4FromOctets(198, 18, 0, 9)};
    if (events.descriptor() < 0 || events.follow(followed) != 0 ||
        std::system(
            "ip link add t0 type veth peer name t1 && ip link set t1 up && ip link set t0 up && "
            "ip addr add 198.18.0.1/24 dev t0 && "
            "for n in 2 3 9 10; do ip neigh add 198.18.0.$n lladdr 02:00:00:00:00:0$n "
            "dev t0 nud reachable; done && ip neigh del 198.18.0.9 dev t0") != 0) {
        return 2;
    }
    std::set<std::string> seen;
    bool deletionSeen = false;
    events.drain([&](const NeighbourChange& change) {
        seen.insert(dottedText(change.reading.nextHop));
        deletionSeen = deletionSeen || change.reading.state == "none";
    });
    if (seen != std::set<std::string>{"198.18.0.2", "198.18.0.9"} || !deletionSeen) {
        return 1;
    }
    // The IPv6 routers: only the followed router's entry and default routes are noted, and only
    // while routes are followed; nothing of them reaches the IPv4 callback.
    const Ipv6Address router{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    const auto changedAfter = [&](const char* command) {
        std::system(command);
        bool ipv4 = false;
        events.drain([&](const NeighbourChange&) { ipv4 = true; });
        return events.routersChanged() ? 1 + ipv4 : 0;
    };
    if (events.followRouters({&router, 1}, true) != 0 ||
        changedAfter("ip -6 neigh add fe80::5 lladdr 02:00:00:00:00:05 dev t0") != 0 ||
        changedAfter("ip -6 route add 2001:db8::/64 via fe80::5 dev t0") != 0 ||
        changedAfter("ip -6 neigh add fe80::2 lladdr 02:00:00:00:00:02 dev t0") != 1 ||
        changedAfter("ip -6 route add default via fe80::7 dev t0") != 1 ||
        events.followRouters({}, false) != 0 ||
        changedAfter("ip -6 route add default via fe80::8 dev t0 metric 9") != 0 ||
        changedAfter("ip -6 neigh change fe80::2 lladdr 02:00:00:00:00:0a dev t0") != 0) {
        return 4;
    }
    // Past what a filter can hold, none is kept (an old one would drop the new addresses'
    // changes): every change arrives, for the program to sort.
    for (const int count : {31, 32, 200}) {
        std::vector<Ipv6Address> many(static_cast<std::size_t>(count), router);
        for (int i = 0; i < count; ++i) {
            many[static_cast<std::size_t>(i)][14] = static_cast<std::uint8_t>(i + 1);
        }
        const int error = events.followRouters(many, true);
        const std::string change = "ip neigh change 198.18.0.3 lladdr 02:00:00:00:00:" +
                                   std::to_string(count % 90 + 10) + " dev t0";
        std::system(change.c_str());
        bool other = false;
        events.drain([&](const NeighbourChange& change) {
            other = other || change.reading.nextHop == ipv4FromOctets(198, 18, 0, 3);
        });
        events.routersChanged();
        if ((error == 0) == other || (count < 32) != (error == 0)) {
            std::fprintf(stderr, "%d routers: error %d, unfollowed change %s\n", count, error,
                         other ? "arrived" : "dropped");
            return 5;
        }
    }
    return 0;
}

// Runs `body` in a child (which takes a network namespace of its own) and gives its exit status:
// 77 when it cannot be had.
int inChild(int (*body)()) {
    if (::geteuid() != 0) {
        return 77;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

TEST(NeighbourEvents, OnlyTheFollowedAddressesChangesArrive) {
    const int status = inChild(followedOnly);
    if (status == 77) {
        GTEST_SKIP() << "a network namespace of its own needs root";
    }
    EXPECT_EQ(status, 0) << "1: other changes arrived or followed ones were lost; 4: the same of "
                            "the IPv6 routers; 5: a filter too large was kept (above)";
}

// IPv6 default routers on two links, one with a neighbour entry, two more as one route with two
// next hops, beside an IPv4 default route: every router is read with its zone, and only them.
int ipv6RoutersRead() {
    if (::unshare(CLONE_NEWNET) != 0) {
        return 77;
    }
    if (std::system("ip link add t0 type veth peer name t1 && ip link set t0 up && "
                    "ip link set t1 up && ip addr add 198.18.0.1/24 dev t0 && "
                    "ip route add default via 198.18.0.2 && "
                    "ip -6 route add default via fe80::2 dev t0 && "
                    "ip -6 route add default via fe80::3 dev t1 metric 2048 && "
                    "ip -6 route add default metric 4096 nexthop via fe80::4 dev t0 "
                    "nexthop via fe80::5 dev t1 && "
                    "ip -6 neigh replace fe80::2 lladdr 02:00:00:00:00:02 dev t0 nud reachable "
                    "router && "
                    "ip -6 neigh replace fe80::9 lladdr 02:00:00:00:00:09 dev t0 nud stale") != 0) {
        return 2;
    }
    // A router known before, whose route went, is read for its entry; one still routed, once.
    std::vector<Ipv6Router> known(2);
    known[0].interfaceIndex = known[1].interfaceIndex = static_cast<int>(::if_nametoindex("t0"));
    known[0].address = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};
    known[1].address = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    std::vector<Ipv6Router> routers;
    if (readIpv6Routers(routers, known) != 0) {
        return 3;
    }
    std::string read;
    for (const auto& router : routers) {
        read += ipv6Text(router.address, router.interfaceIndex) + " " + router.linkAddress + " " +
                router.state + (router.routed ? ";" : " unrouted;");
    }
    std::fprintf(stderr, "%s\n", read.c_str());
    return read == "fe80::2%t0 02:00:00:00:00:02 REACHABLE;fe80::3%t1  none;fe80::4%t0  none;"
                   "fe80::5%t1  none;fe80::9%t0 02:00:00:00:00:09 STALE unrouted;"
               ? 0
               : 1;
}

TEST(Ipv6Routers, EveryDefaultRouterIsReadWithItsZoneAndItsEntry) {
    const int status = inChild(ipv6RoutersRead);
    if (status == 77) {
        GTEST_SKIP() << "a network namespace of its own needs root";
    }
    EXPECT_EQ(status, 0) << "1: not what was read (above); 2: the lab could not be made";
}

} // namespace
} // namespace tarnvik

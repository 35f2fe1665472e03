// SPDX-License-Identifier: MIT
// The neighbour notifications in a network namespace of the test's own: only the followed
// addresses' changes are queued.
#include "ip_text.h"
#include "neighbour.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

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
        std::system("ip link add t0 type veth peer name t1 && ip link set t1 up && ip link set t0 up && "
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
    return seen == std::set<std::string>{"198.18.0.2", "198.18.0.9"} && deletionSeen ? 0 : 1;
}

TEST(NeighbourEvents, OnlyTheFollowedAddressesChangesArrive) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a network namespace of its own needs root";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(followedOnly());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no network namespace here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: other changes arrived or followed ones were lost";
}

} // namespace
} // namespace tarnvik

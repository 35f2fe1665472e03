// SPDX-License-Identifier: MIT
// The repair helper in a namespace of its own: what it deletes, what it keeps, and what it
// needs to do so.
#include "lab.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace tarnvik::netlab {
namespace {

namespace fs = std::filesystem;

class FlushHelper : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const auto reason = unavailableReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
        ws = lab.add("ws");
        peer = lab.add("peer");
        lab.link(ws, peer);
        lab.mustExec(ws, {"ip", "addr", "add", "198.18.0.1/24", "dev", "eth0"});
        // A poisoned entry as a forged reply leaves it, and one set by hand.
        lab.mustExec(ws, {"ip", "neigh", "replace", "198.18.0.2", "lladdr", "02:00:00:de:ad:01",
                          "dev", "eth0", "nud", "reachable"});
        lab.mustExec(ws, {"ip", "neigh", "replace", "198.18.0.9", "lladdr", "02:00:00:00:00:09",
                          "dev", "eth0", "nud", "permanent"});
        // The same two in the IPv6 cache: a router's link-local address as a forged
        // advertisement leaves it, and one set by hand.
        lab.mustExec(ws, {"ip", "neigh", "replace", "fe80::2", "lladdr", "02:00:00:de:ad:01", "dev",
                          "eth0", "nud", "reachable", "router"});
        lab.mustExec(ws, {"ip", "neigh", "replace", "2001:db8::9", "lladdr", "02:00:00:00:00:09",
                          "dev", "eth0", "nud", "permanent"});
    }

    std::string neighbours() { return lab.mustExec(ws, {"ip", "-4", "neigh", "show"}); }
    std::string ipv6Neighbours() { return lab.mustExec(ws, {"ip", "-6", "neigh", "show"}); }

    // The helper copied where an unprivileged user may run it.
    fs::path copyForOthers() {
        char pattern[] = "/tmp/tarnvik-flush-XXXXXX";
        dir = ::mkdtemp(pattern);
        ::chmod(dir.c_str(), 0755);
        const auto copy = dir / "tarnvik-flush";
        fs::copy_file(FLUSH_HELPER, copy);
        return copy;
    }

    void TearDown() override {
        if (!dir.empty()) {
            fs::remove_all(dir);
        }
    }

    Namespaces lab{"f"};
    std::string ws, peer;
    fs::path dir;
};

// Each mode empties its own cache of learnt entries alone.
TEST_F(FlushHelper, DeletesLearntEntriesAndKeepsPermanentOnes) {
    ASSERT_NE(neighbours().find("198.18.0.2"), std::string::npos);
    ASSERT_NE(ipv6Neighbours().find("fe80::2"), std::string::npos);
    auto result = lab.exec(ws, {FLUSH_HELPER});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "");
    const auto left = neighbours();
    EXPECT_EQ(left.find("198.18.0.2"), std::string::npos) << left;
    EXPECT_NE(left.find("198.18.0.9"), std::string::npos) << left;
    EXPECT_NE(ipv6Neighbours().find("fe80::2"), std::string::npos) << "IPv4 alone";

    result = lab.exec(ws, {FLUSH_HELPER, "ipv6"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const auto leftIpv6 = ipv6Neighbours();
    EXPECT_EQ(leftIpv6.find("fe80::2"), std::string::npos) << leftIpv6;
    EXPECT_NE(leftIpv6.find("2001:db8::9"), std::string::npos) << leftIpv6;
}

TEST_F(FlushHelper, TakesNoOtherArgument) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--all"}, {"ipv4"}, {"IPV6"}, {"ipv6", "ipv6"}, {"ipv6 "}}) {
        std::vector<std::string> argv{FLUSH_HELPER};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        EXPECT_EQ(lab.exec(ws, argv).exitCode, 2) << arguments[0];
    }
    EXPECT_NE(neighbours().find("198.18.0.2"), std::string::npos);
    EXPECT_NE(ipv6Neighbours().find("fe80::2"), std::string::npos);
}

TEST_F(FlushHelper, UnprivilegedUserNeedsTheCapability) {
    const auto helper = copyForOthers();
    const std::vector<std::string> asNobody{"setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups", helper.string()};
    const auto refused = lab.exec(ws, asNobody);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.output,
              "tarnvik-flush: cannot delete the neighbour entries: Operation not permitted\n");
    EXPECT_NE(neighbours().find("198.18.0.2"), std::string::npos);

    mustRun({"setcap", "cap_net_admin+ep", helper.string()});
    const auto allowed = lab.exec(ws, asNobody);
    EXPECT_EQ(allowed.exitCode, 0) << allowed.output;
    EXPECT_EQ(neighbours().find("198.18.0.2"), std::string::npos);
    EXPECT_NE(neighbours().find("198.18.0.9"), std::string::npos);
}

// The hold helper: exactly its arguments, strictly; then, for root too, a hold only of a next hop
// this machine uses, never over an administrator's static entry, released only as its record
// names it (interface, address, link-layer address) and only where the entry is ours; and,
// installed 0750 for its group, no use to anyone else.
TEST_F(FlushHelper, HoldTakesOnlyWhatTheGuardNeedsAndReleasesOnlyItsOwn) {
    const std::string index = lab.mustExec(ws, {"cat", "/sys/class/net/eth0/ifindex"});
    const std::string eth0 = index.substr(0, index.find('\n'));
    const std::string mac = "02:00:00:00:00:02";
    // 198.18.0.254 routes a prefix, as would the gateway; so does the administrator's own
    // static 198.18.0.9.
    lab.mustExec(ws, {"ip", "route", "add", "198.51.100.0/24", "via", "198.18.0.254"});
    lab.mustExec(ws, {"ip", "route", "add", "203.0.113.0/24", "via", "198.18.0.9"});
    // IPv6: fe80::254 is the default router, fe80::9 routes a prefix with a static entry, and
    // fe80::2 (a learnt router entry) routes nothing.
    lab.mustExec(ws, {"ip", "-6", "route", "add", "default", "via", "fe80::254", "dev", "eth0"});
    lab.mustExec(ws,
                 {"ip", "-6", "route", "add", "2001:db8:6::/64", "via", "fe80::9", "dev", "eth0"});
    lab.mustExec(ws, {"ip", "-6", "neigh", "replace", "fe80::9", "lladdr", "02:00:00:00:00:09",
                      "dev", "eth0", "nud", "permanent"});
    // A route with two next hops: each one's gateway may be held.
    lab.mustExec(ws, {"ip", "-6", "route", "add", "2001:db8:7::/64", "nexthop", "via", "fe80::7",
                      "dev", "eth0", "nexthop", "via", "fe80::8", "dev", "eth0"});
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
    };
    const Case cases[] = {
        {{}, 2},
        {{"--release"}, 2},
        {{"--release", "x"}, 2},
        {{"--release", "198.18.0.2"}, 2}, // the address alone is no record
        {{eth0, "198.18.0.2"}, 2},
        {{eth0, "198.18.0.2", "ff:ff:ff:ff:ff:ff"}, 2},
        {{eth0, "198.18.0.2", "01:00:5e:00:00:01"}, 2},
        {{eth0, "198.18.0.2", "00:00:00:00:00:00"}, 2},
        {{eth0, "198.18.0.2", "02:00:00:00:00:0g"}, 2},
        {{eth0, "255.255.255.255", mac}, 2},
        {{eth0, "224.0.0.1", mac}, 2},
        {{eth0, "0.0.0.0", mac}, 2},
        {{eth0, "198.18.0.2 ", mac}, 2},
        {{"0", "198.18.0.2", mac}, 2},
        {{"-1", "198.18.0.2", mac}, 2},
        {{eth0, "198.18.0.9", mac}, 3},              // the administrator's static entry
        {{eth0, "198.18.0.77", mac}, 3},             // on-link, but nothing here talks to it
        {{eth0, "192.0.2.1", mac}, 3},               // no route at all
        {{"1", "198.18.0.2", mac}, 3},               // not through that interface
        {{eth0, "198.18.0.2", mac}, 0},              // on-link with a learnt entry
        {{eth0, "198.18.0.254", mac}, 0},            // a gateway, its entry absent
        {{eth0, "198.18.0.2", mac}, 0},              // ours already
        {{"--release", eth0, "198.18.0.9", mac}, 0}, // nothing of ours there: nothing released
        {{"--release", eth0, "198.18.0.254", "02:00:00:00:00:03"}, 0}, // another address's
        {{"--release", "1", "198.18.0.254", mac}, 0},                  // another interface's
        {{"--release", eth0, "198.18.0.2", mac}, 0},
        {{eth0, "2001:db8::9", mac}, 2},    // IPv6 only link-local, a router's
        {{eth0, "fe80::254%eth0", mac}, 2}, // the zone is the index's
        {{eth0, "ff02::1", mac}, 2},
        {{eth0, "fe80::9", mac}, 3},   // the administrator's static entry
        {{eth0, "fe80::2", mac}, 3},   // learnt, but no route's gateway
        {{"1", "fe80::254", mac}, 3},  // not through that interface
        {{eth0, "fe80::254", mac}, 0}, // the default router
        {{eth0, "fe80::8", mac}, 0},   // the second next hop of a route with two
        {{"--release", eth0, "fe80::8", mac}, 0},
        {{"--release", eth0, "fe80::9", "02:00:00:00:00:09"}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{HOLD_HELPER};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const auto result = lab.exec(ws, argv);
        EXPECT_EQ(result.exitCode, c.exitCode)
            << ::testing::PrintToString(c.arguments) << ": " << result.output;
    }
    const auto left = neighbours();
    EXPECT_EQ(left.find("198.18.0.2 "), std::string::npos) << left;
    EXPECT_NE(left.find("198.18.0.254 dev eth0 lladdr 02:00:00:00:00:02 PERMANENT"),
              std::string::npos)
        << "the other hold stays: " << left;
    EXPECT_NE(left.find("198.18.0.9 dev eth0 lladdr 02:00:00:00:00:09 PERMANENT"),
              std::string::npos)
        << "the administrator's static entry stays: " << left;
    EXPECT_EQ(left.find("198.18.0.77"), std::string::npos) << left;
    const auto routers = ipv6Neighbours();
    EXPECT_NE(routers.find("fe80::254 dev eth0 lladdr 02:00:00:00:00:02 router PERMANENT"),
              std::string::npos)
        << routers;
    EXPECT_NE(routers.find("fe80::9 dev eth0 lladdr 02:00:00:00:00:09 PERMANENT"),
              std::string::npos)
        << routers;
    EXPECT_EQ(lab.exec(ws, {HOLD_HELPER, "--release", eth0, "fe80::254", mac}).exitCode, 0);
    EXPECT_EQ(ipv6Neighbours().find("fe80::254"), std::string::npos) << "released";

    char pattern[] = "/tmp/tarnvik-hold-XXXXXX";
    dir = ::mkdtemp(pattern);
    ::chmod(dir.c_str(), 0755);
    const auto copy = dir / "tarnvik-hold";
    fs::copy_file(HOLD_HELPER, copy);
    ::chmod(copy.c_str(), 0750);
    const auto outsider =
        lab.exec(ws, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", copy.string(),
                      "--release", eth0, "198.18.0.254", mac});
    EXPECT_NE(outsider.exitCode, 0);
    EXPECT_TRUE(outsider.output.find("Permission denied") != std::string::npos ||
                outsider.output.find("only root and members of the group tarnvik") !=
                    std::string::npos)
        << outsider.output;
}

// The question helper: an answer only from the link-layer address asked, nothing but its forms
// of arguments, and for an ordinary user only with cap_net_raw; told, an IPv6 router learns our
// genuine address however its entry was poisoned.
TEST_F(FlushHelper, ArpQuestionIsAnsweredOnlyByTheAddressAsked) {
    lab.mustExec(peer, {"ip", "link", "set", "eth0", "address", "02:00:00:00:00:02"});
    lab.mustExec(peer, {"ip", "addr", "add", "198.18.0.2/24", "dev", "eth0"});
    const std::string index = lab.mustExec(ws, {"cat", "/sys/class/net/eth0/ifindex"});
    const std::string eth0 = index.substr(0, index.find('\n'));
    const auto helper = copyForOthers();
    fs::copy_file(ARP_HELPER, dir / "tarnvik-arp");
    mustRun({"setcap", "cap_net_raw+ep", (dir / "tarnvik-arp").string()});
    const std::vector<std::string> asNobody{"setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};
    struct Case {
        std::vector<std::string> argv;
        int exitCode;
    };
    const std::string capable = (dir / "tarnvik-arp").string();
    const auto ours = lab.mustExec(ws, {"cat", "/sys/class/net/eth0/address"}).substr(0, 17);
    const auto linkLocal = [&](const std::string& ns) {
        const auto shown = lab.mustExec(ns, {"ip", "-6", "-o", "addr", "show", "dev", "eth0"});
        const auto at = shown.find("inet6 ") + 6;
        return shown.substr(at, shown.find('/', at) - at);
    };
    const auto ourLinkLocal = linkLocal(ws), router = linkLocal(peer);
    // A tentative address (duplicate detection takes a second or two) takes in nothing, and
    // the helper sends from none.
    for (const auto& ns : {peer, ws}) {
        for (int i = 0;
             i < 50 && !lab.mustExec(ns, {"ip", "-6", "addr", "show", "tentative"}).empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    lab.mustExec(peer, {"ip", "-6", "neigh", "replace", ourLinkLocal, "lladdr", "02:00:00:de:ad:01",
                        "dev", "eth0", "nud", "stale"});
    lab.mustExec(ws, {"ip", "-6", "route", "add", "default", "via", router, "dev", "eth0"});
    const Case cases[] = {
        {{ARP_HELPER, "tell", eth0, router, "02:00:00:00:00:02"}, 0},
        {{ARP_HELPER, "tell", eth0, "fe80::99", "02:00:00:00:00:02"}, 1}, // no router of ours
        {{ARP_HELPER, "ask", eth0, "fe80::99", "02:00:00:00:00:02", "300"}, 1},
        {{ARP_HELPER, "tell", eth0, "2001:db8::2", "02:00:00:00:00:02"}, 2},
        {{ARP_HELPER, "tell", eth0, "fe80::ff:fe00:2"}, 2},
        {{ARP_HELPER, "ask", eth0, router, "02:00:00:00:00:02", "1000"}, 0},
        {{ARP_HELPER, "ask", eth0, router, "02:00:00:de:ad:01", "300"}, 3},
        {{ARP_HELPER, "ask", eth0, "2001:db8::2", "02:00:00:00:00:02", "300"}, 2},
        {{ARP_HELPER, "ask", eth0, "198.18.0.2", "02:00:00:00:00:02", "1000"}, 0},
        {{ARP_HELPER, "ask", eth0, "198.18.0.2", "02:00:00:de:ad:01", "300"}, 3},
        {{ARP_HELPER, "ask", eth0, "198.18.0.2", "ff:ff:ff:ff:ff:ff", "300"}, 2},
        {{ARP_HELPER, "ask", eth0, "198.18.0.2", "02:00:00:00:00:02", "5001"}, 2},
        {{ARP_HELPER, "tell", eth0, "198.18.0.2", "02:00:00:00:00:02"}, 2},
        {{ARP_HELPER, "ask", "1", "198.18.0.2", "02:00:00:00:00:02", "300"}, 1},
        {{asNobody[0], asNobody[1], asNobody[2], asNobody[3], ARP_HELPER, "ask", eth0, "198.18.0.2",
          "02:00:00:00:00:02", "300"},
         1},
        {{asNobody[0], asNobody[1], asNobody[2], asNobody[3], capable, "ask", eth0, "198.18.0.2",
          "02:00:00:00:00:02", "1000"},
         0},
    };
    for (const auto& c : cases) {
        const auto result = lab.exec(ws, c.argv);
        EXPECT_EQ(result.exitCode, c.exitCode)
            << ::testing::PrintToString(c.argv) << ": " << result.output;
    }
    EXPECT_NE(lab.mustExec(peer, {"ip", "-6", "neigh", "show", ourLinkLocal}).find(ours),
              std::string::npos)
        << "the advertisement overrode the forged entry";
    // The router flag says whether this host forwards IPv6 there, never more.
    for (const char* forwarding : {"1", "0"}) {
        lab.mustExec(ws,
                     {"sysctl", "-qw", std::string("net.ipv6.conf.eth0.forwarding=") + forwarding});
        lab.mustExec(ws, {ARP_HELPER, "tell", eth0, router, "02:00:00:00:00:02"});
        const auto entry = lab.mustExec(peer, {"ip", "-6", "neigh", "show", ourLinkLocal});
        EXPECT_EQ(entry.find(" router") != std::string::npos, forwarding[0] == '1') << entry;
    }
    // Nothing of its capability is left while it waits for the answer.
    const auto waiting = lab.exec(
        ws, {asNobody[0], asNobody[1], asNobody[2], asNobody[3], "sh", "-c",
             capable + " ask " + eth0 +
                 " 198.18.0.2 02:00:00:de:ad:01 1500 & sleep 0.5; grep CapEff /proc/$!/status"});
    EXPECT_NE(waiting.output.find("CapEff:\t0000000000000000"), std::string::npos)
        << waiting.output;
    // An address still tentative is no address to send from.
    lab.mustExec(ws, {"sysctl", "-qw", "net.ipv6.conf.eth0.dad_transmits=100"});
    lab.mustExec(ws, {"ip", "-6", "addr", "flush", "dev", "eth0", "scope", "link"});
    lab.mustExec(ws, {"ip", "-6", "addr", "add", "fe80::77/64", "dev", "eth0"});
    const auto tentative = lab.exec(ws, {ARP_HELPER, "tell", eth0, router, "02:00:00:00:00:02"});
    EXPECT_EQ(tentative.exitCode, 1) << tentative.output;
    EXPECT_NE(tentative.output.find("no valid IPv6 link-local address"), std::string::npos)
        << tentative.output;
    (void)helper;
}

} // namespace
} // namespace tarnvik::netlab

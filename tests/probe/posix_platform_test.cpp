// SPDX-License-Identifier: MIT
// The real platform layer on this kernel, in a lab of namespaces built here:
//   ws   198.18.0.1/24  (the prober; routes 198.19.0.0/16 through peer)
//   peer 198.18.0.2/24  (answers echo; its route to 198.19.0.0/16 is "unreachable")
// Both socket kinds are run: ping_group_range of ws decides which one the prober gets.
#include "lab.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>

namespace tarnvik::netlab {
namespace {

struct EchoOutcome {
    std::string kind;
    unsigned count = 0;
    unsigned status = 0;
    unsigned rtt = 0;
    std::string from;
    long elapsedMs = 0;
};

std::vector<EchoOutcome> parseOutcomes(const std::string& output) {
    std::vector<EchoOutcome> outcomes;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("kind=", 0) != 0) {
            continue;
        }
        std::map<std::string, std::string> fields;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            const auto eq = word.find('=');
            fields[word.substr(0, eq)] = word.substr(eq + 1);
        }
        outcomes.push_back({fields["kind"], static_cast<unsigned>(std::stoul(fields["count"])),
                            static_cast<unsigned>(std::stoul(fields["status"])),
                            static_cast<unsigned>(std::stoul(fields["rtt"])), fields["from"],
                            std::stol(fields["elapsed_ms"])});
    }
    return outcomes;
}

class EchoLab : public ::testing::TestWithParam<std::string> {
  protected:
    static void SetUpTestSuite() {
        skipReason = unavailableReason();
        if (!skipReason.empty()) {
            return;
        }
        lab = std::make_unique<Namespaces>("p");
        ws = lab->add("ws");
        peer = lab->add("peer");
        lab->link(ws, peer);
        lab->mustExec(ws, {"ip", "addr", "add", "198.18.0.1/24", "dev", "eth0"});
        lab->mustExec(peer, {"ip", "addr", "add", "198.18.0.2/24", "dev", "eth0"});
        lab->mustExec(ws, {"ip", "route", "add", "198.19.0.0/16", "via", "198.18.0.2"});
        lab->mustExec(peer, {"ip", "route", "add", "unreachable", "198.19.0.0/16"});
        // Only a router answers for a route it has not got; a host drops the packet silently.
        lab->sysctl(peer, "net.ipv4.ip_forward", "1");
        // An address on the link that nobody holds fails its ARP resolution within 100 ms.
        lab->sysctl(ws, "net.ipv4.neigh.eth0.mcast_solicit", "1");
        lab->sysctl(ws, "net.ipv4.neigh.eth0.retrans_time_ms", "100");
        lab->writeEtcFile(ws, "hosts",
                          "198.18.0.2 www.peer.test peer.test\n"
                          "10.98.0.1 multi.test\n127.0.0.7 multi.test\n10.99.0.5 multi.test\n");
        // Unknown names fail at once on the namespace's own loopback.
        lab->writeEtcFile(ws, "resolv.conf", "nameserver 127.0.0.1\n");
    }
    static void TearDownTestSuite() { lab.reset(); }

    void SetUp() override {
        if (!skipReason.empty()) {
            GTEST_SKIP() << skipReason;
        }
        // Root's group 0 is inside "0 2147483647" and outside "1 0".
        lab->sysctl(ws, "net.ipv4.ping_group_range",
                    GetParam() == "datagram" ? "0 2147483647" : "1 0");
        lab->sysctl(peer, "net.ipv4.icmp_echo_ignore_all", "0");
    }

    static std::vector<EchoOutcome> echo(const std::vector<std::string>& args) {
        std::vector<std::string> argv{ECHO_TOOL, "echo"};
        argv.insert(argv.end(), args.begin(), args.end());
        return parseOutcomes(lab->mustExec(ws, argv));
    }

    static std::string tool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{ECHO_TOOL};
        argv.insert(argv.end(), args.begin(), args.end());
        return lab->mustExec(ws, argv);
    }

    inline static std::string skipReason;
    inline static std::unique_ptr<Namespaces> lab;
    inline static std::string ws;
    inline static std::string peer;
};

TEST_P(EchoLab, LoopbackAnswersAtOnce) {
    const auto outcomes = echo({"127.0.0.1", "1000"});
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, GetParam());
    EXPECT_EQ(outcomes[0].count, 1u);
    EXPECT_EQ(outcomes[0].status, 0u);
    EXPECT_LE(outcomes[0].rtt, 1u);
    EXPECT_EQ(outcomes[0].from, "127.0.0.1");
    EXPECT_EQ(tool({"ping", "127.0.0.1"}), "127.0.0.1\tsuccess\t0\n");
}

TEST_P(EchoLab, DestinationZeroIsRefusedWithoutSending) {
    const auto outcomes = echo({"0.0.0.0", "1000"});
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].count, 0u);
    EXPECT_EQ(outcomes[0].status, 11018u);
    EXPECT_EQ(tool({"ping", ""}), "\tfailure\t0\n");
    EXPECT_EQ(tool({"ping", "www.unknown.test"}), "\tfailure\t0\n");
}

TEST_P(EchoLab, PeerAnswers) {
    const auto outcomes = echo({"198.18.0.2", "1000"});
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].count, 1u);
    EXPECT_EQ(outcomes[0].status, 0u);
    EXPECT_EQ(outcomes[0].from, "198.18.0.2");
}

TEST_P(EchoLab, SilentPeerTimesOutAfterTheWaitEvenUnderSignals) {
    lab->sysctl(peer, "net.ipv4.icmp_echo_ignore_all", "1");
    const auto outcomes = echo({"198.18.0.2", "300", "198.18.0.2", "0", "--signals"});
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].count, 0u);
    EXPECT_EQ(outcomes[0].status, 11010u);
    EXPECT_GE(outcomes[0].elapsedMs, 300);
    EXPECT_EQ(outcomes[1].count, 0u);
    EXPECT_EQ(outcomes[1].status, 11010u);
}

TEST_P(EchoLab, UnreachableRouteGivesAnErrorRecord) {
    const auto outcomes = echo({"198.19.0.1", "1000"});
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].count, 1u);
    EXPECT_EQ(outcomes[0].status, 11003u);
    EXPECT_EQ(outcomes[0].from, "198.18.0.2");
}

TEST_P(EchoLab, FailedArpResolutionOnTheLinkIsHostUnreachable) {
    const auto outcomes = echo({"198.18.0.99", "2000"});
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].count, 1u);
    EXPECT_EQ(outcomes[0].status, 11003u);
    EXPECT_EQ(outcomes[0].from, "198.18.0.1");
}

TEST_P(EchoLab, ForgedRepliesAreIgnoredAndTheGenuineOneCounts) {
    lab->sysctl(peer, "net.ipv4.icmp_echo_ignore_all", "1");
    Process responder(lab->execArgv(peer, {ECHO_RESPONDER, "--forge", "--delay", "60"}));
    ASSERT_EQ(responder.readLine(std::chrono::seconds(5)), "ready");
    const auto outcomes = echo({"198.18.0.2", "1000"});
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].count, 1u);
    EXPECT_EQ(outcomes[0].status, 0u);
    EXPECT_GE(outcomes[0].rtt, 60u) << "a forged reply sent before the genuine one was taken";
}

TEST_P(EchoLab, LateReplyDoesNotAnswerTheNextProbe) {
    lab->sysctl(peer, "net.ipv4.icmp_echo_ignore_all", "1");
    Process responder(lab->execArgv(peer, {ECHO_RESPONDER, "--delay", "450"}));
    ASSERT_EQ(responder.readLine(std::chrono::seconds(5)), "ready");
    // The answer to the first probe arrives in the middle of the second one's wait.
    const auto outcomes = echo({"198.18.0.2", "300", "198.18.0.2", "300"});
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].status, 11010u);
    EXPECT_EQ(outcomes[1].count, 0u);
    EXPECT_EQ(outcomes[1].status, 11010u);
}

TEST_P(EchoLab, NamesResolveThroughTheHostsFileInItsOwnOrder) {
    EXPECT_EQ(tool({"resolve", "multi.test"}), "[10.98.0.1]\n");
    EXPECT_EQ(tool({"resolve", "http://peer.test/index.html"}), "[198.18.0.2]\n");
    EXPECT_EQ(tool({"resolve", "peer.test"}), "[198.18.0.2]\n");
    EXPECT_EQ(tool({"resolve", "nothing.test"}), "[]\n");
    // A NUL inside the text must not resolve the part before it.
    EXPECT_EQ(tool({"resolve", "peer.test", "evil"}), "[]\n");
    EXPECT_EQ(tool({"ping", "www.peer.test"}).substr(0, 19), "198.18.0.2\tsuccess\t");
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, EchoLab, ::testing::Values("datagram", "raw"),
                         [](const auto& info) { return info.param; });

TEST(EchoWithoutSockets, ReportsGeneralFailure) {
    if (const auto reason = unavailableReason(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    Namespaces lab("n");
    const auto ns = lab.add("ws");
    // An unprivileged user in a namespace whose ping group range admits nobody has neither kind.
    const auto output = lab.mustExec(ns, {"setpriv", "--reuid=65534", "--regid=65534",
                                          "--clear-groups", ECHO_TOOL, "echo", "127.0.0.1", "100"});
    const auto outcomes = parseOutcomes(output);
    ASSERT_EQ(outcomes.size(), 1u) << output;
    EXPECT_EQ(outcomes[0].kind, "none");
    EXPECT_EQ(outcomes[0].count, 0u);
    EXPECT_EQ(outcomes[0].status, 11050u);
}

} // namespace
} // namespace tarnvik::netlab

// SPDX-License-Identifier: MIT
// The real program on a real link: a copy of tarnvik runs in the LAN's workstation namespace on an
// Xvfb display of its own and is driven through the keyboard; its attack log, the neighbour table
// and the traffic captured at the target are checked from outside.
#include "capture.h"
#include "evidence_twins.h"
#include "lan.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace tarnvik::netlab {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

template <typename Condition> bool waitFor(Condition done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The evidence log's lines, each split at its tabs: time, probed, next hop, baseline, now,
// state, verdict, attacker.
std::vector<std::vector<std::string>> evidenceLines(const fs::path& file) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream all(readFile(file));
    for (std::string line; std::getline(all, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) {
            fields.push_back(field);
        }
        lines.push_back(fields);
    }
    return lines;
}

int countVerdict(const std::vector<std::vector<std::string>>& lines, const std::string& verdict) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const auto& fields) {
        return fields.size() == 8 && fields[6] == verdict;
    }));
}

std::vector<EchoPacket> requestsTo(const std::vector<EchoPacket>& all,
                                   const std::string& destination) {
    std::vector<EchoPacket> out;
    std::copy_if(all.begin(), all.end(), std::back_inserter(out), [&](const auto& packet) {
        return packet.type == 8 && packet.destination == destination;
    });
    return out;
}

class EndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        skipReason = lanUnavailableReason();
        if (skipReason.empty()) {
            lan = std::make_unique<Lan>("e");
            desktop = std::make_unique<Desktop>(lan->namespaces(), lan->ws());
        }
    }

    static void TearDownTestSuite() {
        desktop.reset();
        lan.reset();
    }

    void SetUp() override {
        if (!skipReason.empty()) {
            GTEST_SKIP() << skipReason;
        }
        lan->namespaces().sysctl(lan->target(), "net.ipv4.icmp_echo_ignore_all", "0");
        lan->namespaces().sysctl(lan->ws(), "net.ipv4.ping_group_range", "1 0");
        lan->namespaces().mustExec(lan->ws(), {"ip", "neigh", "flush", "all"});
        // A copy of the program and its helper, so that the attack log lands in this test's
        // folder.
        char pattern[] = "/tmp/tarnvik-e2e-XXXXXX";
        dir = ::mkdtemp(pattern);
        binary = dir / "tarnvik";
        fs::copy_file(TARNVIK_BINARY, binary);
        fs::copy_file(FLUSH_HELPER, dir / "tarnvik-flush");
        fs::copy_file(HOLD_HELPER, dir / "tarnvik-hold");
        fs::copy_file(ARP_HELPER, dir / "tarnvik-arp");
        logFile = dir / "arp_log.log";
    }

    void TearDown() override {
        program.reset();
        capture.reset();
        if (!dir.empty()) {
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
    }

    void startCapture() { capture = std::make_unique<Capture>(*lan, dir / "target.pcap"); }
    void startProgram() { program = desktop->start(binary, dir); }
    std::vector<EchoPacket> echoes() const { return echoPackets(readPcap(capture->file())); }

    bool programRunning() const {
        std::ifstream stat("/proc/" + std::to_string(program->pid()) + "/stat");
        std::string line;
        return std::getline(stat, line) && line.substr(line.rfind(')') + 2, 1) != "Z";
    }

    // The program, as root (raw socket) or as nobody (ping socket), monitors the target while
    // the target's namespace meets each of its requests with a burst of hostile ICMP before the
    // genuine reply, and sprays random ICMP in between: no probe may fail, so no repair is
    // logged. With a silent target no hostile packet may pass for a reply: every probe fails.
    void monitorThroughFlood(bool ordinaryUser, bool targetAnswers) {
        std::vector<std::string> runAs;
        if (ordinaryUser) {
            lan->namespaces().sysctl(lan->ws(), "net.ipv4.ping_group_range", "0 2147483647");
            ::chown(dir.c_str(), 65534, 65534);
            mustRun({"setcap", "cap_net_admin+ep", (dir / "tarnvik-flush").string()});
            mustRun({"setcap", "cap_net_raw+ep", (dir / "tarnvik-arp").string()});
            runAs = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        }
        lan->namespaces().sysctl(lan->target(), "net.ipv4.icmp_echo_ignore_all", "1");
        Process flood(lan->namespaces().execArgv(
            lan->target(), {ICMP_FLOOD, kWsIp, "198.18.0.3", targetAnswers ? "answer" : "silent"}));
        startCapture();
        program = desktop->start(binary, dir, nullptr, {}, runAs);
        desktop->monitorAddress(kTargetIp);
        std::this_thread::sleep_for(1500ms);
        const double from = wallSeconds();
        std::this_thread::sleep_for(6s);
        const double to = wallSeconds();
        const std::string floodOutput = flood.stop();
        const bool running = programRunning();
        const std::string reports = program->stop();

        long bursts = 0, packets = 0;
        const auto last = floodOutput.rfind("bursts ");
        if (last != std::string::npos) {
            std::sscanf(floodOutput.c_str() + last, "bursts %ld packets %ld", &bursts, &packets);
        }
        std::size_t probes = 0;
        for (const auto& request : requestsTo(echoes(), kTargetIp)) {
            probes += request.time >= from && request.time < to;
        }
        const int repairs = countLines(logFile);
        std::printf("[ figures  ] hostile flood (%s, target %s): %ld packets in %ld bursts, %zu "
                    "probes in 6 s, %d repairs\n",
                    ordinaryUser ? "ping socket" : "raw socket",
                    targetAnswers ? "answers" : "silent", packets, bursts, probes, repairs);
        EXPECT_GE(bursts, 4) << "the flood met the probes: " << floodOutput;
        EXPECT_GE(packets, 2000) << floodOutput;
        EXPECT_TRUE(running);
        EXPECT_GE(probes, 5u) << "the cycle kept its pace";
        EXPECT_LE(probes, 7u);
        EXPECT_EQ(reports.find("cannot"), std::string::npos) << reports;
        if (targetAnswers) {
            EXPECT_EQ(repairs, 0) << "a probe failed under the flood";
        } else {
            EXPECT_GE(static_cast<std::size_t>(repairs), bursts - 1)
                << "a forgery passed for a reply";
        }
    }

    inline static std::string skipReason;
    inline static std::unique_ptr<Lan> lan;
    inline static std::unique_ptr<Desktop> desktop;

    fs::path dir, binary, logFile;
    std::unique_ptr<Capture> capture;
    std::unique_ptr<Process> program;
};

TEST_F(EndToEnd, HealthyTargetGetsOneEchoASecondAndNoRepair) {
    startCapture();
    startProgram();
    desktop->monitorAddress(kTargetIp);
    std::this_thread::sleep_for(1500ms);
    const double from = wallSeconds();
    std::this_thread::sleep_for(6s);
    const double to = wallSeconds();
    program.reset();

    const auto all = echoes();
    std::vector<EchoPacket> window;
    for (const auto& request : requestsTo(all, kTargetIp)) {
        if (request.time >= from && request.time < to) {
            window.push_back(request);
        }
    }
    const double perMinute = window.size() * 60.0 / (to - from);
    std::printf("[ figures  ] probes per minute while healthy: %.1f\n", perMinute);
    EXPECT_GE(window.size(), 5u);
    EXPECT_LE(window.size(), 7u);
    for (const auto& request : requestsTo(all, kTargetIp)) {
        EXPECT_EQ(request.data, "Echo This");
        EXPECT_EQ(request.ipHeaderLength, 20u);
        EXPECT_EQ(request.source, "198.18.0.1");
    }
    EXPECT_FALSE(fs::exists(logFile)) << "no repair while the target answers";
}

TEST_F(EndToEnd, OneForgedReplyIsDetectedLoggedFlushedAndHealed) {
    startCapture();
    startProgram();
    desktop->monitorAddress(kTargetIp);
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(1500ms);

    const double forgedAt = lan->forgeArp(ARP_FORGE).at(0);

    ASSERT_TRUE(waitFor([&] { return countLines(logFile) >= 1; }, 5s)) << "no repair logged";
    const double detectedAt = wallSeconds();
    // Healed: the target's real address is learnt again and its echoes are answered.
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s));
    double recoveredAt = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            for (const auto& packet : echoes()) {
                if (packet.type == 0 && packet.time > detectedAt - 0.5) {
                    recoveredAt = packet.time;
                    return true;
                }
            }
            return false;
        },
        5s));
    std::this_thread::sleep_for(3s);
    const std::string reports = program->stop();
    const std::string evidence = readFile(dir / "arp_evidence.log");
    std::printf("[ figures  ] evidence: %s", evidence.c_str());
    EXPECT_NE(
        evidence.find(std::string("\t198.18.0.2\t198.18.0.2\t") + kTargetMac + "\t" + kFakeMac),
        std::string::npos);
    EXPECT_NE(evidence.find("\tchanged\t-\n"), std::string::npos);
    EXPECT_NE(reports.find(std::string("next hop 198.18.0.2 changed from ") + kTargetMac + " to " +
                           kFakeMac),
              std::string::npos)
        << reports;
    std::printf("[ figures  ] detection: forged reply to log line %.0f ms\n",
                (detectedAt - forgedAt) * 1000);
    std::printf("[ figures  ] recovery: forged reply to next answered echo %.0f ms\n",
                (recoveredAt - forgedAt) * 1000);

    const auto all = echoes();
    const auto requests = requestsTo(all, kTargetIp);
    int lost = 0;
    for (const auto& request : requests) {
        lost += request.destinationMac == parseMac(kFakeMac);
    }
    const int lines = countLines(logFile);
    std::printf("[ figures  ] one forged reply: %d probes lost, %d attack lines\n", lost, lines);
    // Seen as it happens: its line and flush come before the next probe, or with the one lost
    // probe in its tick.
    EXPECT_LE(lost, 1);
    EXPECT_GE(lines, 1);
    EXPECT_LE(lines, 2);
    // Every probe after the cache was learnt again is answered.
    for (const auto& request : requests) {
        if (request.time > recoveredAt) {
            EXPECT_EQ(request.destinationMac, parseMac(kTargetMac));
        }
    }
    const auto relearnt = arpPackets(readPcap(capture->file()));
    EXPECT_TRUE(std::any_of(relearnt.begin(), relearnt.end(), [&](const ArpPacket& arp) {
        return arp.broadcast && arp.operation == 1 && arp.targetIp == kTargetIp &&
               arp.time > forgedAt;
    })) << "the flushed entry was asked for again";
}

TEST_F(EndToEnd, OrdinaryUserHealsThePoisonedCacheThroughTheCapableHelper) {
    // As on a desktop: ping sockets for everyone, the helper with its capability, and a program
    // directory the user may write, so the log stays beside the program.
    lan->namespaces().sysctl(lan->ws(), "net.ipv4.ping_group_range", "0 2147483647");
    mustRun({"setcap", "cap_net_admin+ep", (dir / "tarnvik-flush").string()});
    mustRun({"setcap", "cap_net_raw+ep", (dir / "tarnvik-arp").string()});
    ::chown(dir.c_str(), 65534, 65534);
    startCapture();
    program = desktop->start(binary, dir, nullptr, {},
                             {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    desktop->monitorAddress(kTargetIp);
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(1500ms);
    const double forgedAt = lan->forgeArp(ARP_FORGE).at(0);
    ASSERT_TRUE(waitFor([&] { return countLines(logFile) >= 1; }, 5s)) << "no repair logged";
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s))
        << "the unprivileged repair did not flush the poisoned entry";
    ASSERT_TRUE(waitFor(
        [&] {
            const auto all = echoes();
            return std::any_of(all.begin(), all.end(), [&](const EchoPacket& packet) {
                return packet.type == 0 && packet.time > forgedAt + 1;
            });
        },
        5s));
    const std::string reports = program->stop();
    EXPECT_EQ(reports.find("cannot"), std::string::npos) << reports;
}

TEST_F(EndToEnd, PersistentAttackerGetsOneRepairPerLostProbeAndNothingLeaks) {
    startCapture();
    startProgram();
    desktop->monitorAddress(kTargetIp);
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(1500ms);
    const auto descriptorsBefore = openDescriptors(program->pid());

    lan->forgeArp(ARP_FORGE, 5, 2500);
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(3s);
    // A question or a flush still running holds a pipe for a moment; a leak stays.
    auto descriptorsAfter = openDescriptors(program->pid());
    waitFor(
        [&] {
            return (descriptorsAfter = openDescriptors(program->pid())).size() <=
                   descriptorsBefore.size();
        },
        5s);
    const int zombies = unreapedChildren(program->pid());
    const std::string reports = program->stop();

    int lost = 0;
    for (const auto& request : requestsTo(echoes(), kTargetIp)) {
        lost += request.destinationMac == parseMac(kFakeMac);
    }
    const int lines = countLines(logFile);
    std::printf("[ figures  ] persistent attacker: 5 forged replies, %d probes lost, %d repairs\n",
                lost, lines);
    // Every forged reply that takes is an attack line of its own as it happens; a lost probe
    // in the same tick shares it.
    EXPECT_GE(lines, 4);
    EXPECT_LE(lines, 5 + lost);
    EXPECT_EQ(countVerdict(evidenceLines(dir / "arp_evidence.log"), "changed"), lines);
    // Every record has its twin for collectors, with this desk's name and interface.
    std::istringstream log(readFile(dir / "arp_evidence.log"));
    std::istringstream json(readFile(dir / "arp_evidence.jsonl"));
    int twins = 0;
    for (std::string logLine, jsonLine; std::getline(log, logLine);) {
        ASSERT_TRUE(std::getline(json, jsonLine)) << "no twin for " << logLine;
        EXPECT_EQ(testing::twinMismatch(logLine, jsonLine), "") << jsonLine;
        const auto record = nlohmann::json::parse(jsonLine);
        EXPECT_EQ(record["interface"], "eth0");
        EXPECT_EQ(record["mac"], kWsMac);
        ++twins;
    }
    EXPECT_EQ(twins, countLines(dir / "arp_evidence.jsonl"));
    EXPECT_EQ(reports.find("cannot"), std::string::npos) << "every flush started: " << reports;
    EXPECT_EQ(zombies, 0);
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
}

// No click: --start, and a deployed configuration whose locked target wins over the user's; the
// session's autostart entry opens nothing where no configuration asks for it.
TEST_F(EndToEnd, UnattendedStartMonitorsFromTheFirstSecond) {
    startCapture();
    const auto firstRequestAfter = [&](double since) {
        const auto requests = requestsTo(echoes(), kTargetIp);
        const auto first = std::find_if(requests.begin(), requests.end(),
                                        [&](const auto& request) { return request.time > since; });
        return first == requests.end() ? 1e9 : first->time - since;
    };
    // From the window shown: the first tick is a second after the start, as after a click.
    std::chrono::milliseconds shownAfter{};
    double started = wallSeconds();
    program = desktop->start(binary, dir, &shownAfter, {"--start", kTargetIp});
    started += static_cast<double>(shownAfter.count()) / 1000;
    std::this_thread::sleep_for(2500ms);
    EXPECT_LT(firstRequestAfter(started), 1.5) << "--start";
    program->stop();

    fs::create_directories(dir / "etc" / "tarnvik");
    std::ofstream(dir / "etc" / "tarnvik" / "tarnvik.conf")
        << "# deployed once\ntarget = " << kTargetName << "\nstart = true\nlocked = target\n";
    fs::create_directories(dir / ".config" / "tarnvik");
    std::ofstream(dir / ".config" / "tarnvik" / "tarnvik.conf")
        << "target = 198.18.0.99\nguard = perhaps\n";
    const std::vector<std::string> configured = {"env",
                                                 "XDG_CONFIG_DIRS=" + (dir / "etc").string()};
    started = wallSeconds();
    program = desktop->start(binary, dir, &shownAfter, {"--autostart"}, configured);
    started += static_cast<double>(shownAfter.count()) / 1000;
    std::this_thread::sleep_for(2500ms);
    EXPECT_LT(firstRequestAfter(started), 1.5) << "the configuration's locked target";
    const std::string said = program->stop();
    EXPECT_NE(said.find("target is locked by " + (dir / "etc").string()), std::string::npos)
        << said;
    EXPECT_NE(said.find("guard = perhaps is neither true nor false; ignored"), std::string::npos)
        << said;
    for (const auto& request : requestsTo(echoes(), "198.18.0.99")) {
        ADD_FAILURE() << "probed the user's target at " << request.time;
    }

    fs::remove_all(dir / "etc");
    const auto quiet = lan->namespaces().exec(
        lan->ws(), {"env", "HOME=" + dir.string(), binary.string(), "--autostart"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.output, "");
}

TEST_F(EndToEnd, HostNameIsResolvedOncePerStartAndItsAddressProbed) {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, ("/etc/netns/" + lan->ws() + "/hosts").c_str(), IN_OPEN),
              0);
    auto opens = [&] {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                count += (event->mask & IN_OPEN) != 0;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    };

    startCapture();
    startProgram();
    opens();
    desktop->monitorHostName(kTargetName);
    std::this_thread::sleep_for(4500ms);
    const int firstRun = opens();
    desktop->keys({"space"});
    desktop->keys({"space"});
    std::this_thread::sleep_for(2500ms);
    const int secondRun = opens();
    program.reset();
    ::close(watch);

    const auto requests = requestsTo(echoes(), kTargetIp);
    std::printf("[ figures  ] host-name mode: %d resolver reads for %zu probes over two starts\n",
                firstRun + secondRun, requests.size());
    EXPECT_GE(requests.size(), 5u);
    EXPECT_EQ(firstRun, 1);
    EXPECT_EQ(secondRun, 1);
    EXPECT_FALSE(fs::exists(logFile));
}

TEST_F(EndToEnd, SilentTargetFailsAndRepairsEveryTickWithoutOverlap) {
    lan->namespaces().sysctl(lan->target(), "net.ipv4.icmp_echo_ignore_all", "1");
    startCapture();
    startProgram();
    desktop->monitorAddress(kTargetIp);
    std::this_thread::sleep_for(7s);
    program.reset();

    const auto requests = requestsTo(echoes(), kTargetIp);
    const int lines = countLines(logFile);
    ASSERT_GE(requests.size(), 4u);
    double widest = 0;
    for (std::size_t i = 1; i < requests.size(); ++i) {
        const double gap = requests[i].time - requests[i - 1].time;
        widest = std::max(widest, gap);
        EXPECT_GE(gap, 0.99) << "a probe started before the previous one had waited out";
        EXPECT_LE(gap, 2.1);
    }
    std::printf("[ figures  ] silent target: %zu probes, %d repairs, widest gap %.3f s\n",
                requests.size(), lines, widest);
    // Never answered, yet its address is learnt after the start's flush: the same on every line.
    const auto evidence = evidenceLines(dir / "arp_evidence.log");
    std::printf("[ figures  ] evidence:\n%s", readFile(dir / "arp_evidence.log").c_str());
    EXPECT_EQ(countVerdict(evidence, "unchanged"), lines) << readFile(dir / "arp_evidence.log");
    // The program may be stopped while its last probe still waits.
    EXPECT_GE(lines, static_cast<int>(requests.size()) - 1);
    EXPECT_LE(lines, static_cast<int>(requests.size()));
}

TEST_F(EndToEnd, EvidenceTellsASilentHostFromALostLink) {
    startProgram();
    desktop->monitorAddress(kTargetIp);
    std::this_thread::sleep_for(2500ms);
    // The host keeps its address but stops answering: the entry is the same.
    lan->namespaces().sysctl(lan->target(), "net.ipv4.icmp_echo_ignore_all", "1");
    std::this_thread::sleep_for(5s);
    const std::string silent = readFile(dir / "arp_evidence.log");
    const auto silentLines = evidenceLines(dir / "arp_evidence.log");
    // Its link goes: once the repair has flushed the entry, nobody answers for the address.
    lan->namespaces().mustExec(lan->target(), {"ip", "link", "set", "eth0", "down"});
    std::this_thread::sleep_for(4s);
    program.reset();
    lan->namespaces().mustExec(lan->target(), {"ip", "link", "set", "eth0", "up"});
    const std::string all = readFile(dir / "arp_evidence.log");
    std::printf("[ figures  ] evidence:\n%s", all.c_str());
    // First the address learnt at the start, watched from then on; then on every line the entry
    // held the same address while the probe was out, also when the previous repair's flush had
    // emptied it since.
    ASSERT_GE(silentLines.size(), 5u) << silent;
    ASSERT_EQ(silentLines.front().size(), 8u) << silent;
    EXPECT_EQ(silentLines.front(),
              (std::vector<std::string>{silentLines.front()[0], kTargetIp, kTargetIp, kTargetMac,
                                        kTargetMac, silentLines.front()[5], "watching", "-"}))
        << silent;
    EXPECT_EQ(countVerdict(silentLines, "unchanged"), static_cast<int>(silentLines.size()) - 1)
        << silent;
    ASSERT_GT(all.size(), silent.size());
    EXPECT_EQ(all.substr(all.rfind('\t', all.size() - 4)), "\tunresolved\t-\n") << all;
}

TEST_F(EndToEnd, EvidenceOfATargetBehindARouterNamesTheRouter) {
    // The target's namespace routes for 198.19.0.7, which it holds itself.
    lan->namespaces().mustExec(lan->target(), {"ip", "addr", "add", "198.19.0.7/32", "dev", "lo"});
    lan->namespaces().mustExec(lan->ws(),
                               {"ip", "route", "add", "198.19.0.0/24", "via", kTargetIp});
    startProgram();
    desktop->monitorAddress("198.19.0.7");
    std::this_thread::sleep_for(2500ms);
    lan->namespaces().sysctl(lan->target(), "net.ipv4.icmp_echo_ignore_all", "1");
    std::this_thread::sleep_for(2000ms);
    program.reset();
    lan->namespaces().mustExec(lan->ws(), {"ip", "route", "del", "198.19.0.0/24"});
    lan->namespaces().mustExec(lan->target(), {"ip", "addr", "del", "198.19.0.7/32", "dev", "lo"});
    const std::string evidence = readFile(dir / "arp_evidence.log");
    std::printf("[ figures  ] evidence behind a router:\n%s", evidence.c_str());
    EXPECT_NE(evidence.find(std::string("\t198.19.0.7\t") + kTargetIp + '\t' + kTargetMac),
              std::string::npos)
        << evidence;
}

TEST_F(EndToEnd, HostileIcmpFloodChangesNothingForARawSocket) {
    monitorThroughFlood(false, true);
}

TEST_F(EndToEnd, HostileIcmpFloodChangesNothingForAPingSocket) {
    monitorThroughFlood(true, true);
}

TEST_F(EndToEnd, HostileIcmpFloodNeverPassesForAReplyOnARawSocket) {
    monitorThroughFlood(false, false);
}

TEST_F(EndToEnd, HostileIcmpFloodNeverPassesForAReplyOnAPingSocket) {
    monitorThroughFlood(true, false);
}

TEST_F(EndToEnd, WithoutAnyIcmpSocketEveryTickFailsAndRepairsAndTheProgramSaysWhy) {
    // As nobody where ping sockets are refused: nothing can be sent at all.
    ::chown(dir.c_str(), 65534, 65534);
    startCapture();
    program = desktop->start(binary, dir, nullptr, {},
                             {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    desktop->monitorAddress(kTargetIp);
    std::this_thread::sleep_for(4500ms);
    const bool running = programRunning();
    const std::string reports = program->stop();

    EXPECT_TRUE(running);
    EXPECT_NE(reports.find("cannot open an ICMP socket"), std::string::npos) << reports;
    EXPECT_TRUE(requestsTo(echoes(), kTargetIp).empty());
    const int lines = countLines(logFile);
    EXPECT_GE(lines, 3) << "every tick failed and repaired";
    EXPECT_LE(lines, 5);
}

TEST_F(EndToEnd, SilentNameServerCostsALookupNoMoreThanTheProbesWait) {
    // As when the attacker holds the gateway: the name server is an on-link address nobody
    // holds, whose ARP requests go unanswered for as long as the test runs.
    lan->namespaces().writeEtcFile(lan->ws(), "resolv.conf", "nameserver 198.18.0.99\n");
    lan->namespaces().sysctl(lan->ws(), "net.ipv4.neigh.eth0.mcast_solicit", "100");
    const std::string timed =
        lan->namespaces().mustExec(lan->ws(), {ECHO_TOOL, "resolve-timed", "www.silent.test"});
    startProgram();
    desktop->monitorAddress("www.silent.test");
    std::this_thread::sleep_for(10500ms);
    program.reset();
    lan->namespaces().writeEtcFile(lan->ws(), "resolv.conf", "nameserver 127.0.0.1\n");
    lan->namespaces().sysctl(lan->ws(), "net.ipv4.neigh.eth0.mcast_solicit", "3");

    long long lookup = -1;
    std::sscanf(timed.c_str(), "[] %lld ms", &lookup);
    const int repairs = countLines(logFile);
    std::printf("[ figures  ] silent name server: lookup %lld ms, %d repairs in 10 s\n", lookup,
                repairs);
    EXPECT_GE(lookup, 1000) << timed;
    EXPECT_LE(lookup, 1050) << timed;
    EXPECT_EQ(repairs, 0) << "a name that never resolved names no target to repair for";
}

// What names no target is no attack: Space on a freshly opened window (the focus rests on the
// out-of-view probe button, the box is empty), blanks, a text that is no address, a name that
// never resolved. No attack line, no flush (the workstation's entry for the target stays), no
// packet, and each told once.
TEST_F(EndToEnd, NoTargetIsNoAttack) {
    lan->namespaces().mustExec(lan->ws(), {ECHO_TOOL, "echo", kTargetIp, "500"});
    ASSERT_EQ(lan->neighbourMac(), kTargetMac);
    startCapture();
    const std::pair<const char*, const char*> rows[] = {
        {"Space on a fresh window", nullptr},
        {"blanks", "    "},
        {"three parts", "198.18.77"},
        // Not in the hosts file, and the namespace's name server (127.0.0.1) refuses at once.
        {"a name that never resolved", "www.nowhere.test"}};
    for (const auto& [name, typed] : rows) {
        SCOPED_TRACE(name);
        startProgram();
        if (typed == nullptr) {
            desktop->keys({"space"});
        } else if (std::string(typed).rfind("www.", 0) == 0) {
            desktop->monitorHostName(typed);
        } else {
            desktop->monitorAddress(typed);
        }
        std::this_thread::sleep_for(2500ms);
        const bool running = programRunning();
        const std::string reports = program->stop();
        EXPECT_TRUE(running);
        EXPECT_EQ(countLines(logFile), 0) << reports;
        EXPECT_EQ(lan->neighbourMac(), kTargetMac) << "nothing was flushed: " << reports;
        EXPECT_TRUE(reports.find("nothing to probe") != std::string::npos ||
                    reports.find("not an IPv4 address") != std::string::npos ||
                    reports.find("cannot resolve www.nowhere.test") != std::string::npos)
            << reports;
    }
    EXPECT_TRUE(echoes().empty()) << "no address is ever sent to";
}

// The attack people fear most: both sides poisoned every 2 s and the traffic forwarded, so every
// echo is still answered, through the attacker.
TEST_F(EndToEnd, ManInTheMiddleIsSeenWhileEchoesAreAnswered) {
    startCapture();
    startProgram();
    desktop->monitorAddress(kTargetIp);
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(1500ms);
    // The workstation has talked to the attacker's own address before (since the start's flush).
    lan->namespaces().mustExec(lan->ws(), {ECHO_TOOL, "echo", kAttackerIp, "500"});
    const double from = wallSeconds();
    double forgedAt = 0, seenAt = 0;
    {
        ManInTheMiddle attacker(*lan, ARP_FORGE, 2000);
        forgedAt = attacker.firstForgedAt();
        if (waitFor([&] { return countLines(logFile) >= 1; }, 3s)) {
            seenAt = wallSeconds();
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(from + 20 - wallSeconds()));
    }
    const double to = wallSeconds();
    const std::string reports = program->stop();

    int requests = 0, throughAttacker = 0, replies = 0;
    for (const auto& packet : echoes()) {
        if (packet.time < from || packet.time >= to) {
            continue;
        }
        if (packet.type == 8 && packet.destination == kTargetIp) {
            ++requests;
            throughAttacker += packet.sourceMac == parseMac(kAttackerMac);
        }
        replies += packet.type == 0 && packet.destination == kWsIp;
    }
    const auto evidence = evidenceLines(dir / "arp_evidence.log");
    const int lines = countLines(logFile);
    std::printf("[ figures  ] man in the middle: first forged reply to attack line %.0f ms, %d "
                "attack lines in 20 s, %d of %d echo requests through the attacker, %d answered\n",
                (seenAt - forgedAt) * 1000, lines, throughAttacker, requests, replies);
    ASSERT_GT(seenAt, 0) << "the attack was not seen";
    EXPECT_GE(lines, 5) << "about one attack line for each re-poisoning";
    EXPECT_EQ(countVerdict(evidence, "changed"), lines) << "no echo failed: lines are the attack's";
    EXPECT_GE(replies, requests - 1) << "the lamp stayed green";
    // The address learnt at the start, then the attack.
    ASSERT_GE(evidence.size(), 2u);
    EXPECT_EQ(evidence[0][6], "watching");
    EXPECT_EQ(evidence[1][3], kTargetMac);
    EXPECT_EQ(evidence[1][4], kAttackerMac);
    EXPECT_EQ(evidence[1][7], kAttackerIp);
    EXPECT_NE(reports.find(std::string("changed from ") + kTargetMac + " to " + kAttackerMac +
                           ", held by " + kAttackerIp),
              std::string::npos)
        << reports;
    EXPECT_EQ(reports.find("holding"), std::string::npos) << "without --guard nothing is held";
    EXPECT_EQ(countVerdict(evidence, "held"), 0);
}

// Both directions: while the attack goes on the workstation tells its next hop its genuine
// address, so that the target's replies stop passing the attacker too; with the guard holding
// our side, nothing passes it either way. Each attacker cadence, with and without --guard; an
// attacker forging requests (which a Linux peer takes as they come) is measured only.
class BothWays : public EndToEnd, public ::testing::WithParamInterface<std::pair<int, bool>> {};

TEST_P(BothWays, TheNextHopIsToldOurAddressSoBothDirectionsStayClean) {
    const auto [cadence, forgedRequests] = GetParam();
    for (const bool guard : {false, true}) {
        lan->namespaces().mustExec(lan->ws(), {"ip", "neigh", "flush", "all"});
        lan->namespaces().mustExec(lan->target(), {"ip", "neigh", "flush", "all"});
        const int announcedBefore =
            countVerdict(evidenceLines(dir / "arp_evidence.log"), "announced");
        startCapture();
        program = desktop->start(binary, dir, nullptr,
                                 guard ? std::vector<std::string>{"--guard"}
                                       : std::vector<std::string>{});
        desktop->monitorAddress(kTargetIp);
        ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s));
        std::this_thread::sleep_for(1500ms);
        double from = 0;
        {
            ManInTheMiddle attacker(*lan, ARP_FORGE, cadence, forgedRequests);
            from = attacker.firstForgedAt();
            std::this_thread::sleep_for(std::chrono::duration<double>(from + 12 - wallSeconds()));
        }
        const double to = wallSeconds();
        ::kill(program->pid(), SIGTERM);
        const std::string reports = program->stop();
        int requestsVia = 0, repliesVia = 0, replies = 0;
        for (const auto& packet : echoes()) {
            if (packet.time < from || packet.time >= to) {
                continue;
            }
            if (packet.type == 8 && packet.destination == kTargetIp) {
                requestsVia += packet.sourceMac == parseMac(kAttackerMac);
            } else if (packet.type == 0 && packet.destination == kWsIp && packet.time > from + 4) {
                ++replies;
                repliesVia += packet.destinationMac == parseMac(kAttackerMac);
            }
        }
        // Everything the workstation says about itself is the truth, and the announcements
        // are requests for the target's address unicast to its genuine link-layer address.
        int told = 0, untrue = 0;
        for (const auto& arp : arpPackets(readPcap(capture->file()))) {
            if (arp.source != parseMac(kWsMac) || arp.time < from || arp.time >= to) {
                continue;
            }
            untrue += arp.senderMac != parseMac(kWsMac) || arp.senderIp != kWsIp;
            told += arp.operation == 1 && arp.destination == parseMac(kTargetMac) &&
                    arp.targetIp == kTargetIp;
        }
        const int announced =
            countVerdict(evidenceLines(dir / "arp_evidence.log"), "announced") - announcedBefore;
        std::printf("[ figures  ] both ways, forged %s every %d ms, %s: %d of %d replies "
                    "after 4 s through the attacker, %d requests through it, %d unicast "
                    "requests to the target (%.1f/s)\n",
                    forgedRequests ? "requests" : "replies", cadence,
                    guard ? "--guard" : "no guard", repliesVia, replies, requestsVia, told,
                    told / (to - from));
        if (!forgedRequests) {
            EXPECT_EQ(requestsVia, 0) << cadence << (guard ? " guard" : "");
            if (guard) {
                EXPECT_LE(repliesVia, 1) << cadence << ": " << reports;
            }
        }
        EXPECT_EQ(untrue, 0);
        EXPECT_GE(told, 20) << "announced through the attack";
        EXPECT_EQ(announced, 2) << "one line when the announcements start, one when they end";
        for (const auto& line : evidenceLines(dir / "arp_evidence.log")) {
            if (line.at(6) == "announced") {
                EXPECT_EQ(line.at(3) + " " + line.at(4), std::string(kTargetMac) + " " + kWsMac);
            }
        }
        EXPECT_NE(reports.find("our address"), std::string::npos) << reports;
    }
}

INSTANTIATE_TEST_SUITE_P(Attackers, BothWays,
                         ::testing::Values(std::pair{2000, false}, std::pair{500, false},
                                           std::pair{500, true}, std::pair{100, true}),
                         [](const auto& info) {
                             return std::string(info.param.second ? "Requests" : "Replies") +
                                    std::to_string(info.param.first) + "ms";
                         });

// IPv6 on the bridge, link-local addresses only: the target's namespace is the genuine router
// (radvd), the attacker forges neighbour and router advertisements. In one run: (c) the genuine
// router's repeated advertisements and its restart with the same address tell nothing; (a) a
// forged advertisement for the router's address is a changed router; (b) a rogue router
// advertisement is a new router; (e) the router's entry taken over as its route goes (a forged
// advertisement without the router flag, a lifetime of 0 in its name) is a changed router whose
// route was lost; (d) the router replaced by a device with the same link-local address: changed,
// and once its old link-layer address has stayed silent to the questions for 30 s, moved.
// Each attack has its line, as an IPv4 one has, and the attacked router is told our genuine
// address meanwhile.
TEST_F(EndToEnd, Ipv6RoutersAreWatchedForForgedNeighboursAndRogueRouters) {
    auto& lab = lan->namespaces();
    const std::string router = "fe80::ff:fe00:2", rogue = "fe80::ff:fe00:3";
    struct Restore {
        Namespaces& lab;
        const Lan& lan;
        ~Restore() {
            lab.exec(lan.target(),
                     {"ip", "-6", "addr", "add", "fe80::ff:fe00:2/64", "dev", "eth0", "nodad"});
            lab.exec(lan.attacker(), {"ip", "-6", "addr", "flush", "dev", "eth0", "scope", "link"});
            lab.exec(lan.attacker(),
                     {"ip", "-6", "addr", "add", "fe80::ff:fe00:3/64", "dev", "eth0", "nodad"});
            lab.sysctl(lan.attacker(), "net.ipv6.conf.all.forwarding", "0");
            lab.sysctl(lan.target(), "net.ipv6.conf.all.forwarding", "0");
            lab.exec(lan.ws(), {"ip", "-6", "route", "flush", "proto", "ra"});
            lab.exec(lan.ws(), {"ip", "-6", "neigh", "flush", "all"});
        }
    } restore{lab, *lan};
    lab.sysctl(lan->target(), "net.ipv6.conf.all.forwarding", "1");
    const auto conf = dir / "radvd.conf";
    std::ofstream(conf) << "interface eth0 { AdvSendAdvert on; MinRtrAdvInterval 3; "
                           "MaxRtrAdvInterval 4; AdvDefaultLifetime 1800; };\n";
    const auto startRouter = [&](const std::string& ns) {
        return std::make_unique<Process>(
            lab.execArgv(ns, {"radvd", "-n", "-m", "stderr", "-C", conf.string(), "-p",
                              (dir / "radvd.pid").string()}));
    };
    const auto macOf = [&](const std::string& address) {
        const auto shown =
            lab.exec(lan->ws(), {"ip", "-6", "neigh", "show", address, "dev", "eth0"});
        const auto at = shown.output.find("lladdr ");
        return at == std::string::npos ? "" : shown.output.substr(at + 7, 17);
    };
    const auto routesVia = [&](const std::string& address) {
        return lab.exec(lan->ws(), {"ip", "-6", "route", "show", "default"})
                   .output.find("via " + address + " ") != std::string::npos;
    };
    auto genuine = startRouter(lan->target());
    ASSERT_TRUE(waitFor([&] { return routesVia(router); }, 20s)) << "radvd did not advertise";
    startCapture();
    startProgram();
    desktop->monitorAddress(kTargetIp);
    // The start's IPv6 flush; then the router's next advertisement teaches its address afresh.
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(waitFor([&] { return macOf(router) == kTargetMac; }, 6s));

    std::this_thread::sleep_for(5s);
    genuine.reset(); // radvd withdraws as it ends, and comes back with the same address
    ASSERT_TRUE(waitFor([&] { return !routesVia(router); }, 3s));
    genuine = startRouter(lan->target());
    ASSERT_TRUE(waitFor([&] { return routesVia(router) && macOf(router) == kTargetMac; }, 10s));
    std::this_thread::sleep_for(1500ms);
    const auto quiet = evidenceLines(dir / "arp_evidence.log");
    EXPECT_EQ(countLines(logFile), 0) << readFile(dir / "arp_evidence.log");
    EXPECT_EQ(countVerdict(quiet, "changed") + countVerdict(quiet, "new-router"), 0);
    EXPECT_EQ(countVerdict(quiet, "router-gone"), 1) << "the restart is recorded, no more";

    const auto forge = [&](std::vector<std::string> args, const std::string& verdict) {
        args.insert(args.begin(), {ARP_FORGE, "eth0"});
        const auto sent = lab.mustExec(lan->attacker(), args);
        const double forgedAt = std::stod(sent.substr(sent.find(' ') + 1)) / 1e6;
        if (!waitFor(
                [&] { return countVerdict(evidenceLines(dir / "arp_evidence.log"), verdict) > 0; },
                3s)) {
            return -1.0;
        }
        return (wallSeconds() - forgedAt) * 1000;
    };
    const double changedAfter = forge({"na", router, kFakeMac}, "changed");
    std::this_thread::sleep_for(1500ms);
    const double newAfter = forge({"ra"}, "new-router");
    // The router's entry taken over as its default route goes: by the best-known suite's default
    // advertisement (router flag clear), and by a router advertisement in its name with lifetime
    // 0. Each is an attack whose route was lost, until the genuine router's next advertisement.
    const auto routeLost = [&] {
        int lost = 0;
        for (const auto& fields : evidenceLines(dir / "arp_evidence.log")) {
            lost += fields[6] == "changed" && fields[5].find(",route-lost") != std::string::npos;
        }
        return lost;
    };
    for (const auto& mode : {"na-host", "ra0"}) {
        ASSERT_TRUE(waitFor([&] { return routesVia(router) && macOf(router) == kTargetMac; }, 10s));
        const int before = routeLost();
        lab.mustExec(lan->attacker(), {ARP_FORGE, "eth0", mode, router, kFakeMac});
        EXPECT_TRUE(waitFor([&] { return routeLost() == before + 1; }, 3s)) << mode;
        EXPECT_TRUE(waitFor([&] { return macOf(router) != kFakeMac; }, 3s))
            << mode << ": the IPv6 flush";
    }
    ASSERT_TRUE(waitFor([&] { return routesVia(router) && macOf(router) == kTargetMac; }, 10s));
    // The attacker's namespace stands in for the new device, the target keeping its IPv4 part.
    genuine.reset();
    ASSERT_TRUE(waitFor([&] { return !routesVia(router); }, 3s));
    lab.mustExec(lan->target(), {"ip", "-6", "addr", "del", router + "/64", "dev", "eth0"});
    lab.mustExec(lan->attacker(), {"ip", "-6", "addr", "flush", "dev", "eth0", "scope", "link"});
    lab.mustExec(lan->attacker(),
                 {"ip", "-6", "addr", "add", router + "/64", "dev", "eth0", "nodad"});
    lab.sysctl(lan->attacker(), "net.ipv6.conf.all.forwarding", "1");
    genuine = startRouter(lan->attacker());
    // The old address silent to every question for 30 s, the new one answering.
    EXPECT_TRUE(waitFor(
        [&] { return countVerdict(evidenceLines(dir / "arp_evidence.log"), "moved") == 1; }, 60s));
    const int linesAfterMove = countLines(logFile);
    std::this_thread::sleep_for(5s);
    const std::string reports = program->stop();
    capture.reset();
    const auto told = run(
        {"tcpdump", "-n", "-r", (dir / "target.pcap").string(),
         "ether src " + std::string(kWsMac) + " and icmp6 and ip6[40] = 136 and ip6[44] = 0x20"});
    std::printf("[ figures  ] IPv6: forged neighbour advertisement to its line %.0f ms, rogue "
                "router advertisement to its line %.0f ms (polled every 10 ms)\n",
                changedAfter, newAfter);
    ASSERT_GE(changedAfter, 0) << reports;
    ASSERT_GE(newAfter, 0) << reports;
    const auto evidence = evidenceLines(dir / "arp_evidence.log");
    int replacedChanges = 0;
    for (const auto& fields : evidence) {
        if (fields[6] == "changed" || fields[6] == "moved") {
            EXPECT_EQ(fields[1], kTargetIp) << "the probed field is the monitored target";
            EXPECT_EQ(fields[2], router + "%eth0");
            EXPECT_EQ(fields[3], kTargetMac);
            const bool replaced = fields[4] == kAttackerMac;
            EXPECT_TRUE(replaced || (fields[6] == "changed" && fields[4] == kFakeMac)) << fields[4];
            replacedChanges += replaced && fields[6] == "changed";
        } else if (fields[6] == "new-router") {
            EXPECT_EQ(fields[2], rogue + "%eth0");
            EXPECT_EQ(fields[3], "-");
            EXPECT_EQ(fields[4], kAttackerMac);
        }
    }
    EXPECT_EQ(countVerdict(evidence, "new-router"), 1);
    EXPECT_EQ(replacedChanges, 1) << "the replaced router's one change before its move";
    EXPECT_EQ(countVerdict(evidence, "moved"), 1);
    EXPECT_EQ(countLines(logFile), linesAfterMove) << "silence after the move";
    EXPECT_EQ(countLines(logFile),
              countVerdict(evidence, "changed") + countVerdict(evidence, "new-router"))
        << "an attack line for each, none for the target, which answered throughout";
    EXPECT_NE(reports.find("IPv6 router " + router + "%eth0 changed from " + kTargetMac + " to " +
                           kFakeMac),
              std::string::npos)
        << reports;
    EXPECT_NE(macOf(router), kFakeMac) << "the repair flushed the forged entry";
    int started = 0, ended = 0;
    for (const auto& fields : evidence) {
        started += fields[6] == "announced" && fields[5] == "started";
        ended += fields[6] == "announced" && fields[5] == "ended";
    }
    EXPECT_GE(started, 1);
    EXPECT_EQ(started, ended) << "each announcement started has ended";
    EXPECT_GE(std::count(told.output.begin(), told.output.end(), '\n'), 5)
        << "advertisements of our address to the router, four a second: " << told.output;
}

// With --guard the genuine address is held once the flip-flop confirms the attack: forged
// replies no longer take, and the hold goes with the program however it ends.
TEST_F(EndToEnd, GuardHoldsTheGenuineAddressUntilTheProgramEnds) {
    auto permanent = [&] {
        return lan->namespaces()
                   .exec(lan->ws(), {"ip", "neigh", "show", kTargetIp, "nud", "permanent"})
                   .output.find(kTargetMac) != std::string::npos;
    };
    auto startGuarded = [&] {
        program = desktop->start(binary, dir, nullptr, {"--guard"});
        desktop->monitorAddress(kTargetIp);
        return waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s);
    };
    // A run killed while it holds leaves the hold; the next start releases it.
    ASSERT_TRUE(startGuarded());
    {
        ManInTheMiddle attacker(*lan, ARP_FORGE, 2000);
        ASSERT_TRUE(waitFor(permanent, 8s)) << program->stop();
        // Said once the helper's exit has been seen, at the next tick.
        ASSERT_TRUE(waitFor(
            [&] { return countVerdict(evidenceLines(dir / "arp_evidence.log"), "held") == 1; },
            3s));
    }
    ::kill(program->pid(), SIGKILL);
    program.reset();
    ASSERT_TRUE(permanent()) << "kill -9 leaves the hold";
    // The new run releases it at its start (its owner no longer runs); the kept entry already
    // holds the genuine address: wait for the release itself, not for the address.
    ASSERT_TRUE(startGuarded());
    EXPECT_TRUE(waitFor([&] { return !permanent(); }, 3s)) << "the old hold is gone at the start";

    startCapture();
    double forgedAt = 0, heldAt = 0;
    {
        ManInTheMiddle attacker(*lan, ARP_FORGE, 2000);
        forgedAt = attacker.firstForgedAt();
        if (waitFor(permanent, 8s)) {
            heldAt = wallSeconds();
        }
        std::this_thread::sleep_for(8s);
    }
    int requests = 0, throughAttacker = 0, replies = 0;
    for (const auto& packet : echoes()) {
        if (packet.time < heldAt) {
            continue;
        }
        if (packet.type == 8 && packet.destination == kTargetIp) {
            ++requests;
            throughAttacker += packet.sourceMac == parseMac(kAttackerMac);
        }
        replies += packet.type == 0 && packet.destination == kWsIp;
    }
    ::kill(program->pid(), SIGTERM);
    const std::string reports = program->stop();
    const bool releasedOnTerm = !permanent();
    std::printf("[ figures  ] guard: first forged reply to hold %.0f ms; after it %d of %d echo "
                "requests through the attacker, %d answered\n",
                (heldAt - forgedAt) * 1000, throughAttacker, requests, replies);
    ASSERT_GT(heldAt, 0) << reports;
    EXPECT_LE(heldAt - forgedAt, 4.5) << "within one re-poisoning of the first attack line";
    EXPECT_EQ(throughAttacker, 0);
    EXPECT_GE(replies, requests - 1) << "the lamp stayed green";
    EXPECT_TRUE(releasedOnTerm) << "SIGTERM releases the hold: " << reports;
    const auto evidence = evidenceLines(dir / "arp_evidence.log");
    EXPECT_EQ(countVerdict(evidence, "held"), 2);
    EXPECT_EQ(countVerdict(evidence, "released"), 1) << "the killed run released nothing";
}

// Users start the program because something is already wrong.
TEST_F(EndToEnd, AttackUnderWayAtStartShowsAsAChangeAwayFromTheGenuineAddress) {
    ManInTheMiddle attacker(*lan, ARP_FORGE, 2000);
    lan->namespaces().mustExec(lan->ws(), {ECHO_TOOL, "echo", kTargetIp, "500"});
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kAttackerMac; }, 5s))
        << "the cache is poisoned before the start";
    startProgram();
    desktop->monitorAddress(kTargetIp);
    std::this_thread::sleep_for(6s);
    program.reset();
    const auto evidence = evidenceLines(dir / "arp_evidence.log");
    const std::string all = readFile(dir / "arp_evidence.log");
    ASSERT_GE(countVerdict(evidence, "changed"), 1) << all;
    for (const auto& fields : evidence) {
        ASSERT_EQ(fields.size(), 8u) << all;
        EXPECT_EQ(fields[3], kTargetMac) << all;
        EXPECT_NE(fields[6], "moved") << all;
    }
}

// One forged reply that a genuine ARP exchange undoes within the second: seen all the same.
TEST_F(EndToEnd, ForgedReplyUndoneWithinTheSecondIsStillNamed) {
    startProgram();
    desktop->monitorAddress(kTargetIp);
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(1500ms);
    lan->forgeArp(ARP_FORGE);
    lan->namespaces().mustExec(lan->target(),
                               {ARP_FORGE, "eth0", kTargetIp, kTargetMac, kWsIp, kWsMac});
    std::this_thread::sleep_for(2s);
    program.reset();
    const std::string all = readFile(dir / "arp_evidence.log");
    EXPECT_NE(all.find(std::string(kTargetMac) + '\t' + kFakeMac), std::string::npos) << all;
    EXPECT_EQ(countVerdict(evidenceLines(dir / "arp_evidence.log"), "changed"), 1) << all;
}

// The next hop's watch against what a real desk and a real attacker do, one row each:
// - a busy desk (other traffic to the target 5 times a second before and during the start) with a
//   forwarding attacker poisoning both ways by forged replies: the attack is seen against the
//   genuine address;
// - an attacker that starts, once the watch has armed, to poison both ways by forged requests
//   every 0.2 s (so that it wins every re-resolution), forwarding, with --guard: the genuine
//   address answers the question, so it is never a move, never the baseline, never held, and no
//   echo request goes through it after the hold;
// - a real move (the target changes its address and announces it): one `moved` line once the
//   old address stayed silent to the questions for 30 s, then nothing more.
TEST_F(EndToEnd, NextHopWatchTellsAttackersFromMovesOnABusyDesk) {
    enum Kind { busyDesk, requestForger, move };
    const std::pair<Kind, const char*> rows[] = {{busyDesk, "busy desk, forged replies"},
                                                 {requestForger, "forged requests, --guard"},
                                                 {move, "a real move"}};
    const char* newMac = "02:00:00:00:00:22";
    for (const auto& [kind, name] : rows) {
        SCOPED_TRACE(name);
        fs::remove(logFile);
        fs::remove(dir / "arp_evidence.log");
        lan->namespaces().mustExec(lan->ws(), {"ip", "neigh", "flush", "all"});
        std::unique_ptr<Process> desk;
        if (kind == busyDesk) {
            desk = std::make_unique<Process>(lan->namespaces().execArgv(
                lan->ws(), {"sh", "-c",
                            std::string("while :; do ") + ECHO_TOOL + " echo " + kTargetIp +
                                " 150 >/dev/null; sleep 0.2; done"}));
            std::this_thread::sleep_for(1s);
        }
        startCapture();
        program = desktop->start(binary, dir, nullptr,
                                 kind == requestForger ? std::vector<std::string>{"--guard"}
                                                       : std::vector<std::string>{});
        desktop->monitorAddress(kTargetIp);
        std::this_thread::sleep_for(3s); // armed at the first tick
        const double from = wallSeconds();
        double heldAt = 0;
        if (kind == move) {
            lan->namespaces().mustExec(lan->target(),
                                       {"ip", "link", "set", "eth0", "address", newMac});
            lan->namespaces().mustExec(lan->target(),
                                       {ARP_FORGE, "eth0", kTargetIp, newMac, kWsIp, kWsMac});
            EXPECT_TRUE(waitFor(
                [&] { return countVerdict(evidenceLines(dir / "arp_evidence.log"), "moved") == 1; },
                60s));
        } else {
            ManInTheMiddle attacker(*lan, ARP_FORGE, kind == busyDesk ? 2000 : 200,
                                    kind == requestForger);
            const auto held = [&] {
                return countVerdict(evidenceLines(dir / "arp_evidence.log"), "held") > 0;
            };
            if (kind == requestForger && waitFor(held, 12s)) {
                heldAt = wallSeconds();
            }
            std::this_thread::sleep_for(6s);
        }
        const int linesAtEnd = countLines(logFile);
        std::this_thread::sleep_for(kind == move ? 10s : 0s);
        ::kill(program->pid(), SIGTERM);
        const std::string reports = program->stop();
        desk.reset();
        if (kind == move) {
            lan->namespaces().mustExec(lan->target(),
                                       {"ip", "link", "set", "eth0", "address", kTargetMac});
        }
        const auto evidence = evidenceLines(dir / "arp_evidence.log");
        const std::string all = readFile(dir / "arp_evidence.log") + reports;
        int throughAttacker = 0;
        for (const auto& request : requestsTo(echoes(), kTargetIp)) {
            throughAttacker += heldAt > 0 && request.time > heldAt + 0.5 &&
                               request.sourceMac == parseMac(kAttackerMac);
        }
        std::printf("[ figures  ] %s: %d attack lines, hold %.1f s after the attack began, %d "
                    "echo requests through the attacker after it\n",
                    name, countLines(logFile), heldAt > 0 ? heldAt - from : -1.0, throughAttacker);
        ASSERT_FALSE(evidence.empty()) << all;
        for (const auto& fields : evidence) {
            ASSERT_EQ(fields.size(), 8u) << all;
            if (fields[6] == "changed") {
                EXPECT_EQ(fields[3], kTargetMac) << all;
                EXPECT_EQ(fields[4], kind == move ? newMac : kAttackerMac) << all;
            }
            if (fields[6] == "held") {
                EXPECT_EQ(fields[4], kTargetMac) << "only the genuine address is held: " << all;
            }
        }
        EXPECT_GE(countVerdict(evidence, "changed"), 1) << all;
        if (kind == move) {
            EXPECT_EQ(countVerdict(evidence, "moved"), 1) << all;
            EXPECT_EQ(countLines(logFile), linesAtEnd) << "silence after the move: " << all;
            EXPECT_LE(linesAtEnd, 2) << all;
        } else {
            EXPECT_EQ(countVerdict(evidence, "moved"), 0) << all;
        }
        if (kind == requestForger) {
            EXPECT_GT(heldAt, 0) << all;
            EXPECT_EQ(throughAttacker, 0) << all;
        }
    }
}

// A session bus of the test's own, at a path every namespace sees (an abstract socket would be
// the namespace's own), optionally with the lab's notification service on it.
class SessionBus {
  public:
    SessionBus(const fs::path& dir, bool withService)
        : address_("unix:path=" + (dir / "bus").string()) {
        daemon_ = std::make_unique<Process>(std::vector<std::string>{
            "dbus-daemon", "--session", "--nofork", "--print-address", "--address=" + address_});
        daemon_->readLine(5s);
        if (withService) {
            listener_ = std::make_unique<Process>(
                std::vector<std::string>{NOTIFICATION_LISTENER, address_});
            if (listener_->readLine(5s) != "ready") {
                throw std::runtime_error("the notification listener did not start");
            }
        }
    }
    // The program's command line starts with this, so that it finds the bus.
    std::vector<std::string> environment() const {
        return {"env", "DBUS_SESSION_BUS_ADDRESS=" + address_};
    }
    // The notifications shown so far, one "notify ..." line each.
    std::vector<std::string> shown() {
        for (std::string line; !(line = listener_->readLine(200ms)).empty();) {
            shown_.push_back(line);
        }
        return shown_;
    }

  private:
    std::string address_;
    std::unique_ptr<Process> daemon_, listener_;
    std::vector<std::string> shown_;
};

TEST_F(EndToEnd, DesktopIsToldOncePerEpisode) {
    SessionBus bus(dir, true);
    program = desktop->start(binary, dir, nullptr, {}, bus.environment());
    desktop->monitorAddress(kTargetIp);
    ASSERT_TRUE(waitFor([&] { return lan->neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(1500ms);
    lan->forgeArp(ARP_FORGE);
    std::this_thread::sleep_for(1500ms);
    const auto afterForgery = bus.shown();
    lan->namespaces().sysctl(lan->target(), "net.ipv4.icmp_echo_ignore_all", "1");
    std::this_thread::sleep_for(5s);
    const auto afterSilence = bus.shown();
    lan->namespaces().sysctl(lan->target(), "net.ipv4.icmp_echo_ignore_all", "0");
    std::this_thread::sleep_for(2500ms);
    const auto all = bus.shown();
    program.reset();
    for (const auto& line : all) {
        std::printf("[ figures  ] %s\n", line.c_str());
    }
    // The attack, and that the next hop is told our address while it goes on.
    ASSERT_EQ(afterForgery.size(), 2u);
    EXPECT_EQ(afterForgery[0], std::string("notify Tarnvik\ttarnvik\tARP attack on 198.18.0.2\t"
                                           "The link-layer address of 198.18.0.2 changed from ") +
                                   kTargetMac + " to " + kFakeMac + ".");
    EXPECT_EQ(afterForgery[1], std::string("notify Tarnvik\ttarnvik\tDefending 198.18.0.2 both "
                                           "ways\ttold 198.18.0.2 our address ") +
                                   kWsMac + " while the attack goes on");
    ASSERT_EQ(afterSilence.size(), 3u) << "told once while it keeps failing";
    EXPECT_NE(afterSilence[2].find("198.18.0.2 does not answer"), std::string::npos);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_NE(all[3].find("198.18.0.2 answers again"), std::string::npos);
}

TEST_F(EndToEnd, WithoutANotificationServiceNothingIsShownAndThatIsSaidOnce) {
    lan->namespaces().sysctl(lan->target(), "net.ipv4.icmp_echo_ignore_all", "1");
    SessionBus bus(dir, false);
    program = desktop->start(binary, dir, nullptr, {}, bus.environment());
    desktop->monitorAddress(kTargetIp);
    std::this_thread::sleep_for(4500ms);
    lan->namespaces().sysctl(lan->target(), "net.ipv4.icmp_echo_ignore_all", "0");
    std::this_thread::sleep_for(2s);
    const std::string reports = program->stop();
    std::size_t said = 0;
    for (auto at = reports.find("desktop notification"); at != std::string::npos;
         at = reports.find("desktop notification", at + 1)) {
        ++said;
    }
    EXPECT_EQ(said, 1u) << reports;
    EXPECT_GE(countLines(logFile), 3) << "monitoring went on";
}

} // namespace
} // namespace tarnvik::netlab

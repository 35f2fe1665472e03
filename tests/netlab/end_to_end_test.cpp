// The real program on a real link. One LAN of namespaces joined by a bridge:
//   ws       198.18.0.1  02:00:00:00:00:01  runs tarnvik on its own Xvfb display
//   target   198.18.0.2  02:00:00:00:00:02  answers echo; tcpdump listens here
//   attacker 198.18.0.3  02:00:00:00:00:03  forges ARP replies for 198.18.0.2
// No namespace has a route beyond 198.18.0.0/24. The program is driven through the keyboard as a
// person would (Tab, typing, Space) with xdotool; its attack log, neighbour table and wire
// traffic are checked from outside.
#include "capture.h"
#include "lab.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace tarnvik::netlab {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kTargetIp = "198.18.0.2";
constexpr const char* kWsMac = "02:00:00:00:00:01";
constexpr const char* kTargetMac = "02:00:00:00:00:02";
constexpr const char* kFakeMac = "02:00:00:de:ad:01";

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int countLines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return static_cast<int>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
}

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

class EndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        skipReason = unavailableReason();
        for (const char* tool : {"Xvfb", "xdotool", "tcpdump"}) {
            if (skipReason.empty() &&
                run({"sh", "-c", std::string("command -v ") + tool}).exitCode != 0) {
                skipReason = std::string("the end-to-end lab needs ") + tool;
            }
        }
        if (!skipReason.empty()) {
            return;
        }
        lab = std::make_unique<Namespaces>("e");
        const auto lan = lab->add("lan");
        lab->mustExec(lan, {"ip", "link", "add", "br0", "type", "bridge"});
        lab->mustExec(lan, {"ip", "link", "set", "br0", "up"});
        auto host = [&](const std::string& role, const std::string& ip, const std::string& mac) {
            const auto ns = lab->add(role);
            const auto port = "p-" + role;
            mustRun({"ip", "-n", ns, "link", "add", "eth0", "address", mac, "type", "veth", "peer",
                     "name", port, "netns", lan});
            lab->mustExec(lan, {"ip", "link", "set", port, "master", "br0", "up"});
            lab->mustExec(ns, {"ip", "link", "set", "eth0", "up"});
            lab->mustExec(ns, {"ip", "addr", "add", ip + "/24", "dev", "eth0"});
            return ns;
        };
        ws = host("ws", "198.18.0.1", kWsMac);
        target = host("target", kTargetIp, kTargetMac);
        attacker = host("attacker", "198.18.0.3", "02:00:00:00:00:03");
        // Let one forged reply override an entry however recently it was confirmed.
        lab->sysctl(ws, "net.ipv4.neigh.eth0.locktime", "0");
        lab->writeEtcFile(ws, "hosts", "198.18.0.2 www.target.test target.test\n");
        lab->writeEtcFile(ws, "resolv.conf", "nameserver 127.0.0.1\n");

        display = std::make_unique<Process>(lab->execArgv(
            ws, {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"}));
        for (int i = 0; i < 50 && displayName.empty(); ++i) {
            const auto line = display->readLine(200ms);
            if (!line.empty() && std::all_of(line.begin(), line.end(), ::isdigit)) {
                displayName = ":" + line;
            }
        }
        if (displayName.empty()) {
            skipReason = "Xvfb did not start in the lab";
        }
    }

    static void TearDownTestSuite() {
        display.reset();
        lab.reset();
    }

    void SetUp() override {
        if (!skipReason.empty()) {
            GTEST_SKIP() << skipReason;
        }
        lab->sysctl(target, "net.ipv4.icmp_echo_ignore_all", "0");
        lab->mustExec(ws, {"ip", "neigh", "flush", "all"});
        // A copy of the program of its own, so that its attack log lands in this test's folder.
        char pattern[] = "/tmp/tarnvik-e2e-XXXXXX";
        dir = ::mkdtemp(pattern);
        binary = dir / "tarnvik";
        fs::copy_file(TARNVIK_BINARY, binary);
        logFile = dir / "arp_log.log";
        captureFile = dir / "target.pcap";
    }

    void TearDown() override {
        program.reset();
        capture.reset();
        if (!dir.empty()) {
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
    }

    void startCapture() {
        capture = std::make_unique<Process>(
            lab->execArgv(target, {"tcpdump", "-i", "eth0", "-n", "-U", "--immediate-mode", "-Z",
                                   "root", "-w", captureFile.string(), "icmp or arp"}));
        for (int i = 0; i < 50; ++i) {
            if (capture->readLine(200ms).find("listening on") != std::string::npos) {
                return;
            }
        }
        FAIL() << "tcpdump did not start";
    }

    std::vector<EchoPacket> echoes() const { return echoPackets(readPcap(captureFile)); }

    CommandResult xdotool(std::vector<std::string> args) {
        std::vector<std::string> argv{"env", "DISPLAY=" + displayName, "xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        return lab->exec(ws, argv);
    }

    // Starts the program and waits until its window has the keyboard focus.
    void startProgram() {
        program = std::make_unique<Process>(
            lab->execArgv(ws, {"env", "DISPLAY=" + displayName, "XDG_RUNTIME_DIR=" + dir.string(),
                               binary.string()}));
        std::string window;
        ASSERT_TRUE(waitFor(
            [&] {
                const auto found = xdotool(
                    {"search", "--pid", std::to_string(program->pid()), "--name", "^Tarnvik$"});
                window = found.output.substr(0, found.output.find('\n'));
                return found.exitCode == 0 && !window.empty();
            },
            10s))
            << "no window appeared";
        ASSERT_EQ(xdotool({"windowfocus", "--sync", window}).exitCode, 0);
        std::this_thread::sleep_for(300ms);
    }

    void keys(std::vector<std::string> names) {
        names.insert(names.begin(), {"key", "--delay", "50"});
        ASSERT_EQ(xdotool(names).exitCode, 0);
    }

    void type(const std::string& text) {
        ASSERT_EQ(xdotool({"type", "--delay", "20", text}).exitCode, 0);
    }

    // From the focus at open (the hidden Ping button): Tab to the address box, type, Tab to the
    // start button, press it.
    void monitorAddress(const std::string& address) {
        keys({"Tab", "Tab", "Tab", "Tab"});
        type(address);
        keys({"Tab", "Tab", "space"});
    }

    static std::vector<EchoPacket> requestsTo(const std::vector<EchoPacket>& all,
                                              const std::string& destination) {
        std::vector<EchoPacket> out;
        std::copy_if(all.begin(), all.end(), std::back_inserter(out), [&](const auto& packet) {
            return packet.type == 8 && packet.destination == destination;
        });
        return out;
    }

    std::string neighbourMac() {
        const auto shown = lab->exec(ws, {"ip", "neigh", "show", kTargetIp, "dev", "eth0"});
        const auto at = shown.output.find("lladdr ");
        return at == std::string::npos ? "" : shown.output.substr(at + 7, 17);
    }

    int openDescriptors() const {
        int count = 0;
        for ([[maybe_unused]] const auto& entry :
             fs::directory_iterator("/proc/" + std::to_string(program->pid()) + "/fd")) {
            ++count;
        }
        return count;
    }

    int zombieChildren() const {
        int zombies = 0;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) {
                continue;
            }
            const auto close = line.rfind(')');
            if (close == std::string::npos) {
                continue;
            }
            char state = 0;
            int parent = 0;
            std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent);
            zombies += state == 'Z' && parent == program->pid();
        }
        return zombies;
    }

    inline static std::string skipReason;
    inline static std::unique_ptr<Namespaces> lab;
    inline static std::unique_ptr<Process> display;
    inline static std::string displayName;
    inline static std::string ws, target, attacker;

    fs::path dir, binary, logFile, captureFile;
    std::unique_ptr<Process> capture;
    std::unique_ptr<Process> program;
};

TEST_F(EndToEnd, HealthyTargetGetsOneEchoASecondAndNoRepair) {
    startCapture();
    startProgram();
    monitorAddress(kTargetIp);
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
    monitorAddress(kTargetIp);
    ASSERT_TRUE(waitFor([&] { return neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(1500ms);

    const auto forged =
        lab->mustExec(attacker, {ARP_FORGE, "eth0", kTargetIp, kFakeMac, "198.18.0.1", kWsMac});
    const double forgedAt = std::stoll(forged.substr(forged.find(' ') + 1)) / 1e6;
    EXPECT_EQ(neighbourMac(), kFakeMac) << "the forged reply poisoned the cache";

    ASSERT_TRUE(waitFor([&] { return countLines(logFile) >= 1; }, 5s)) << "no repair logged";
    const double detectedAt = wallSeconds();
    // Healed: the target's real address is learnt again and its echoes are answered.
    ASSERT_TRUE(waitFor([&] { return neighbourMac() == kTargetMac; }, 5s));
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
    program.reset();
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
    EXPECT_GE(lost, 1);
    // The probe that follows a timed-out one starts at once, often before the detached flush
    // has run, so one forged reply may cost two probes; each lost probe is logged once.
    EXPECT_LE(lost, 2);
    EXPECT_EQ(lines, lost);
    // Every probe after the cache was learnt again is answered.
    for (const auto& request : requests) {
        if (request.time > recoveredAt) {
            EXPECT_EQ(request.destinationMac, parseMac(kTargetMac));
        }
    }
    const auto relearnt = arpPackets(readPcap(captureFile));
    EXPECT_TRUE(std::any_of(relearnt.begin(), relearnt.end(), [&](const ArpPacket& arp) {
        return arp.broadcast && arp.operation == 1 && arp.targetIp == kTargetIp &&
               arp.time > forgedAt;
    })) << "the flushed entry was asked for again";
}

TEST_F(EndToEnd, PersistentAttackerGetsOneRepairPerLostProbeAndNothingLeaks) {
    startCapture();
    startProgram();
    monitorAddress(kTargetIp);
    ASSERT_TRUE(waitFor([&] { return neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(1500ms);
    const int descriptorsBefore = openDescriptors();

    lab->mustExec(attacker,
                  {ARP_FORGE, "eth0", kTargetIp, kFakeMac, "198.18.0.1", kWsMac, "5", "2500"});
    ASSERT_TRUE(waitFor([&] { return neighbourMac() == kTargetMac; }, 5s));
    std::this_thread::sleep_for(3s);
    const int descriptorsAfter = openDescriptors();
    const int zombies = zombieChildren();
    const std::string reports = program->stop();

    int lost = 0;
    for (const auto& request : requestsTo(echoes(), kTargetIp)) {
        lost += request.destinationMac == parseMac(kFakeMac);
    }
    std::printf("[ figures  ] persistent attacker: 5 forged replies, %d probes lost, %d repairs\n",
                lost, countLines(logFile));
    // A forged reply that lands while the entry is being learnt again is overridden by the real
    // one and costs no probe, so not every forged reply shows.
    EXPECT_GE(lost, 2);
    EXPECT_EQ(countLines(logFile), lost);
    EXPECT_EQ(reports.find("cannot"), std::string::npos) << "every flush started: " << reports;
    EXPECT_EQ(zombies, 0);
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
}

TEST_F(EndToEnd, HostNameIsResolvedOncePerStartAndItsAddressProbed) {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, ("/etc/netns/" + ws + "/hosts").c_str(), IN_OPEN), 0);
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
    // Tab to the mode button and switch; back to the name box; type; on to the start button.
    keys({"Tab", "Tab", "Tab", "Tab", "Tab", "space", "shift+Tab"});
    type("www.target.test");
    keys({"Tab", "Tab", "space"});
    std::this_thread::sleep_for(4500ms);
    const int firstRun = opens();
    keys({"space"});
    keys({"space"});
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
    lab->sysctl(target, "net.ipv4.icmp_echo_ignore_all", "1");
    startCapture();
    startProgram();
    monitorAddress(kTargetIp);
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
    // The program may be stopped while its last probe still waits.
    EXPECT_GE(lines, static_cast<int>(requests.size()) - 1);
    EXPECT_LE(lines, static_cast<int>(requests.size()));
}

} // namespace
} // namespace tarnvik::netlab

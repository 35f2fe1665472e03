// SPDX-License-Identifier: MIT
#include "holds.h"
#include "ip_text.h"
#include "repair.h"
#include "system.h"
#include "system_posix.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sys/wait.h>

namespace tarnvik {
namespace {

using testing::readFile;
using testing::ReadOnlyFile;
using testing::RecordingRepair;
using testing::TempDir;
using testing::waitUntil;

// The label in code page 936, written out byte by byte.
const std::string kGbkLabel = "\xb7\xa2\xc9\xfa"
                              "arp"
                              "\xb9\xa5\xbb\xf7\xb5\xc4\xca\xb1\xbc\xe4\xa3\xba";

TEST(AttackLogLine, IsGbkLabelThenTimeWithoutBlankThenCrLf) {
    ASSERT_EQ(kGbkLabel.size(), 19u);
    EXPECT_EQ(attackLogLine("2026/12/7 9:05:03"), kGbkLabel + "2026/12/7 9:05:03\r\n");
    EXPECT_EQ(attackLogLine("2026/1/2"), kGbkLabel + "2026/1/2\r\n");
}

TEST(Gbk, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(os::toGbk("a\xe2\x98\x83z"), "a?z"); // U+2603 SNOWMAN
    EXPECT_EQ(os::toGbk("时间"), "\xca\xb1\xbc\xe4");
}

class RepairTest : public ::testing::Test {
  protected:
    TempDir dir;
    RecordingRepair recorder{dir.path()};
};

TEST_F(RepairTest, FirstRepairCreatesTheLogAndLaterOnesAppend) {
    RepairAction repair(recorder.settings());
    EXPECT_FALSE(std::filesystem::exists(recorder.logPath));
    EXPECT_TRUE(repair.run());
    EXPECT_EQ(readFile(recorder.logPath), kGbkLabel + "2026/12/7 9:05:03\r\n");
    EXPECT_TRUE(repair.run());
    EXPECT_TRUE(repair.run());
    const std::string line = kGbkLabel + "2026/12/7 9:05:03\r\n";
    EXPECT_EQ(readFile(recorder.logPath), line + line + line);
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 3; }));
    EXPECT_TRUE(recorder.reports.empty());
    const std::pair attack{SystemRecord::attack, kAttackLabel + std::string("2026/12/7 9:05:03")};
    EXPECT_EQ(recorder.records, std::vector(3, attack));
}

TEST_F(RepairTest, ReadOnlyLogGivesNoLineAReportAndTheCommandAllTheSame) {
    SKIP_UNLESS_FILES_CAN_BE_LOCKED();
    RepairAction repair(recorder.settings());
    ASSERT_TRUE(repair.run());
    ASSERT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 1; }));
    const std::string before = readFile(recorder.logPath);
    {
        ReadOnlyFile locked(recorder.logPath);
        EXPECT_FALSE(repair.run());
    }
    EXPECT_EQ(readFile(recorder.logPath), before);
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_NE(recorder.reports[0].find(recorder.logPath.string()), std::string::npos);
    EXPECT_NE(recorder.reports[0].find(": "), std::string::npos);
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 2; }));
    // Writable again: the next repair runs whole.
    EXPECT_TRUE(repair.run());
    EXPECT_EQ(recorder.logLines(), 2);
}

TEST_F(RepairTest, CommandThatCannotStartLeavesItsLineWritten) {
    auto settings = recorder.settings();
    settings.command = {"tarnvik-no-such-command", "-d"};
    RepairAction repair(settings);
    EXPECT_FALSE(repair.run());
    EXPECT_EQ(recorder.logLines(), 1);
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(recorder.reports[0],
              "cannot start tarnvik-no-such-command -d: No such file or directory");
    ASSERT_EQ(recorder.records.size(), 2u);
    EXPECT_EQ(recorder.records[1], std::pair(SystemRecord::repairFailure, recorder.reports[0]));
}

TEST_F(RepairTest, HelperGoneByTheTimeOfTheRepairIsReportedEvenWithoutAReportSink) {
    auto settings = recorder.settings();
    settings.command = {(dir.path() / "tarnvik-flush").string()};
    EXPECT_FALSE(RepairAction(settings).run()) << "exec failed, so the start failed";
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(recorder.reports[0],
              "cannot start " + settings.command[0] + ": No such file or directory");
    settings.report = nullptr;
    EXPECT_FALSE(RepairAction(settings).run());
    EXPECT_EQ(recorder.logLines(), 2);
}

TEST_F(RepairTest, LogThatIsASymbolicLinkIsNeverWrittenThrough) {
    const auto victim = dir.path() / "victim";
    std::ofstream(victim) << "kept\n";
    std::filesystem::create_symlink(victim, recorder.logPath);
    EXPECT_FALSE(RepairAction(recorder.settings()).run());
    EXPECT_EQ(readFile(victim), "kept\n");
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_NE(recorder.reports[0].find("symbolic links"), std::string::npos) << recorder.reports[0];
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 1; }))
        << "the flush starts all the same";
}

// Started detached or run to its end, a helper has nothing of ours but standard error, no
// console, and a session of its own; a detached one is never left as a zombie.
TEST_F(RepairTest, CommandsRunWithoutConsoleOrOurDescriptorsAndNeverAsZombies) {
    const auto seen = dir.path() / "descriptors";
    // A descriptor this process forgot to mark close-on-exec.
    const int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GT(stray, STDERR_FILENO);
    const std::string script =
        "i=$(readlink /proc/$$/fd/0); o=$(readlink /proc/$$/fd/1); "
        "s=$(cut -d' ' -f6 /proc/$$/stat); "
        "if [ -e /proc/$$/fd/" +
        std::to_string(stray) +
        " ]; then x=inherited; else x=closed; fi; echo $i $o $s $x >> \"$0\"";
    const std::vector<std::string> command{"/bin/sh", "-c", script, seen.string()};
    ASSERT_EQ(os::startDetached(command, false), 0);
    ASSERT_TRUE(waitUntil([&] { return testing::countLines(seen) == 1; }));
    ASSERT_TRUE(os::runToEnd(command, false, kHelperDeadline).succeeded());
    ::close(stray);
    std::istringstream lines(readFile(seen));
    for (const char* start : {"detached", "run to its end"}) {
        std::string in, out, session, strayState;
        lines >> in >> out >> session >> strayState;
        EXPECT_EQ(in, "/dev/null") << start;
        EXPECT_EQ(out, "/dev/null") << start;
        EXPECT_NE(session, std::to_string(::getsid(0))) << start;
        EXPECT_EQ(strayState, "closed") << start;
    }
    // Reaped as it ended: no child of this process is left, not even a zombie.
    const auto children = [] {
        std::ifstream list("/proc/self/task/" + std::to_string(::getpid()) + "/children");
        return std::string(std::istreambuf_iterator<char>(list), {});
    };
    EXPECT_TRUE(waitUntil([&] { return children().empty(); })) << children();
}

// The private directories (the state directory, the holds' records): never reached through a link
// the user could have laid, never another's directory or one others may write to; as root, the
// records' directory is root's own whatever the environment names.
TEST(PrivateDirectories, NeverThroughALinkNorAnothersDirectory) {
    testing::TempDir dir;
    const auto victim = dir.path() / "victim";
    std::filesystem::create_directory(victim);
    std::ofstream(victim / "hold-1-2") << "999999999 1\n198.18.0.7\n2\n02:00:00:00:00:02\n";
    const auto link = [&](const char* name, uid_t owner) {
        std::filesystem::create_directory_symlink(victim, dir.path() / name);
        EXPECT_EQ(::lchown((dir.path() / name).c_str(), owner, owner), 0);
        return dir.path() / name;
    };
    const auto made = [&](const char* name, uid_t owner, mode_t mode) {
        std::filesystem::create_directory(dir.path() / name);
        EXPECT_EQ(::chown((dir.path() / name).c_str(), owner, owner), 0);
        ::chmod((dir.path() / name).c_str(), mode);
        return dir.path() / name;
    };
    struct Case {
        std::filesystem::path directory;
        int error;
    };
    const Case cases[] = {
        {link("planted", ::getuid()), ELOOP},    {link("parent", 65534) / "tarnvik", ELOOP},
        {link("system", 0) / "tarnvik", 0}, // root's own link: the system's layout
        {made("another's", 65534, 0700), EPERM}, {made("shared", ::getuid(), 0777), EPERM},
        {dir.path() / "new" / "tarnvik", 0},     {"relative/tarnvik", EINVAL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(os::createPrivateDirectories(c.directory), c.error) << c.directory;
    }
    std::vector<std::string> reports;
    HoldRecords(dir.path() / "planted", true)
        .releaseAbandoned([](const NeighbourReading&) { return os::RunOutcome{}; },
                          [&](const std::string& line) { reports.push_back(line); });
    EXPECT_TRUE(std::filesystem::exists(victim / "hold-1-2")) << "nothing removed through a link";
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(HoldRecords(dir.path() / "planted", true).write({}), ELOOP);

    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    EXPECT_EQ(os::runtimeDirectory(),
              ::geteuid() == 0 ? std::filesystem::path("/run/tarnvik") : dir.path() / "tarnvik");
    ::unsetenv("XDG_RUNTIME_DIR");
}

// A helper run to its end succeeds only when its exit status 0 was seen: an end that went unseen
// (SIGCHLD ignored, so the child is reaped by the kernel) is a failure, never a hold made.
TEST(RunToEnd, SucceedsOnlyOnAnExitStatusSeen) {
    EXPECT_TRUE(os::runToEnd({"/bin/true"}, false, kHelperDeadline).succeeded());
    EXPECT_EQ(os::runToEnd({"/bin/false"}, false, kHelperDeadline).exitStatus, 1);
    EXPECT_TRUE(os::runToEnd({"/bin/sleep", "5"}, false, std::chrono::milliseconds(50)).timedOut);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &previous);
    const auto unseen = os::runToEnd({"/bin/true"}, false, kHelperDeadline);
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_FALSE(unseen.succeeded());
    EXPECT_EQ(unseen.error, ECHILD);
}

} // namespace
} // namespace tarnvik

namespace tarnvik {
namespace {

TEST(AttackLogDirectory, BesideTheProgramExactlyWhenItsDirectoryIsWritable) {
    EXPECT_EQ(attackLogDirectory("/opt/t", true, "/state", "/home/u"), "/opt/t");
    EXPECT_EQ(attackLogDirectory("/usr/bin", false, "/state", "/home/u"), "/state/tarnvik");
    EXPECT_EQ(attackLogDirectory("/usr/bin", false, "", "/home/u"), "/home/u/.local/state/tarnvik");
    EXPECT_EQ(attackLogDirectory("/usr/bin", false, "relative", "/home/u"),
              "/home/u/.local/state/tarnvik");
    // No absolute place of the user's: no directory rather than the working directory.
    EXPECT_EQ(attackLogDirectory("/usr/bin", false, "", ""), "");
    EXPECT_EQ(attackLogDirectory("/usr/bin", false, "relative", "home"), "");
}

TEST(AttackLogDirectory, ReadOnlyDirectoryIsNotWritableEvenForRoot) {
    SKIP_UNLESS_FILES_CAN_BE_LOCKED();
    TempDir dir;
    EXPECT_TRUE(os::writableDirectory(dir.path()));
    const auto locked = dir.path() / "locked";
    std::filesystem::create_directory(locked);
    testing::ReadOnlyFile readOnly(locked);
    EXPECT_FALSE(os::writableDirectory(locked));
}

// What --guard says at start, with its remedy, when nothing could be held.
TEST(GuardProblem, NamesTheRemedyForEachObstacle) {
    const std::filesystem::path hold = "/usr/bin/tarnvik-hold";
    EXPECT_NE(guardProblem(hold, false, true, true, true, "ann").render().find("is missing"),
              std::string::npos);
    EXPECT_TRUE(guardProblem(hold, true, true, false, false, "ann").empty()) << "root may";
    EXPECT_NE(
        guardProblem(hold, true, false, false, true, "ann").render().find("adduser ann tarnvik"),
        std::string::npos);
    EXPECT_NE(guardProblem(hold, true, false, true, false, "ann")
                  .render()
                  .find("setcap cap_net_admin+ep /usr/bin/tarnvik-hold"),
              std::string::npos);
    EXPECT_TRUE(guardProblem(hold, true, false, true, true, "ann").empty());
}

TEST(FlushCommandChoice, HelperByAbsolutePathElseIp) {
    EXPECT_EQ(flushCommand("/opt/t", true), std::vector<std::string>{"/opt/t/tarnvik-flush"});
    EXPECT_EQ(flushCommand("/opt/t", false),
              (std::vector<std::string>{"ip", "-4", "neigh", "flush", "all"}));
    EXPECT_EQ(flushCommand("/opt/t", true, true),
              (std::vector<std::string>{"/opt/t/tarnvik-flush", "ipv6"}));
    EXPECT_EQ(flushCommand("/opt/t", false, true),
              (std::vector<std::string>{"ip", "-6", "neigh", "flush", "all"}));
}

TEST_F(RepairTest, FallbackLogDirectoryIsCreatedForItsUserAlone) {
    const auto existing = dir.path() / "home";
    std::filesystem::create_directory(existing);
    ::chmod(existing.c_str(), 0755);
    auto settings = recorder.settings();
    settings.logDirectory = existing / "state" / "tarnvik";
    settings.createLogDirectory = true;
    RepairAction repair(settings);
    const mode_t mask = ::umask(0022);
    EXPECT_TRUE(repair.run());
    ::umask(mask);
    EXPECT_EQ(testing::countLines(settings.logDirectory / "arp_log.log"), 1);
    auto mode = [](const std::filesystem::path& path) {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 0777;
    };
    EXPECT_EQ(mode(existing), 0755u) << "an existing directory keeps its mode";
    EXPECT_EQ(mode(existing / "state"), 0700u);
    EXPECT_EQ(mode(settings.logDirectory), 0700u);
    EXPECT_EQ(mode(settings.logDirectory / "arp_log.log"), 0600u);
}

TEST_F(RepairTest, NoLogDirectoryMeansNoLineAReportAndTheCommandAllTheSame) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    auto settings = recorder.settings();
    settings.logDirectory.clear();
    RepairAction repair(settings);
    EXPECT_FALSE(repair.run());
    std::filesystem::current_path(cwd);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "arp_log.log"));
    EXPECT_EQ(recorder.reports.size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 1; }));
}

// Sets an environment variable for one scope.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Configuration, SystemDirectoriesLeastImportantFirstThenTheUsersOwn) {
    testing::TempDir dir;
    for (const char* name : {"first", "second", "user"}) {
        std::filesystem::create_directories(dir.path() / name / "tarnvik");
        std::ofstream(dir.path() / name / "tarnvik" / "tarnvik.conf")
            << "target = " << name << "\n";
    }
    std::filesystem::create_directories(dir.path() / "empty");
    ScopedVariable dirs("XDG_CONFIG_DIRS", (dir.path() / "first").string() +
                                               ":relative:" + (dir.path() / "empty").string() +
                                               ":" + (dir.path() / "second").string());
    ScopedVariable home("XDG_CONFIG_HOME", (dir.path() / "user").string());
    const auto layers = os::configurationLayers();
    ASSERT_EQ(layers.size(), 3u);
    const char* order[] = {"second", "first", "user"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(layers[i].values[kTargetKey], order[i]);
        EXPECT_EQ(layers[i].system, i < 2);
    }
}

TEST_F(RepairTest, HostileEnvironmentNeverReachesAPrivilegedCommand) {
    // A PATH whose first directory holds a "sh" that only leaves a mark.
    const auto evil = dir.path() / "evil";
    std::filesystem::create_directory(evil);
    const auto mark = dir.path() / "evil-ran";
    std::ofstream(evil / "sh") << "#!/bin/sh\necho ran > " << mark.string() << "\n";
    std::filesystem::permissions(evil / "sh", std::filesystem::perms::owner_all);
    const auto seen = dir.path() / "environment";
    const std::vector<std::string> command{"sh", "-c", "env > \"$0\"", seen.string()};
    {
        ScopedVariable path("PATH", evil.string() + ":/usr/bin:/bin");
        ScopedVariable preload("LD_PRELOAD", (evil / "evil.so").string());
        ASSERT_EQ(os::startDetached(command, true), 0);
        ASSERT_TRUE(waitUntil([&] { return testing::countLines(seen) >= 2; }));
        // Unprivileged, the user's PATH is the user's business.
        ASSERT_EQ(os::startDetached(command, false), 0);
        ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(mark); }));
    }
    const std::string environment = readFile(seen);
    EXPECT_EQ(environment.find("LD_PRELOAD"), std::string::npos) << environment;
    EXPECT_NE(environment.find("PATH=/usr/sbin:/usr/bin:/sbin:/bin\n"), std::string::npos)
        << environment;
    EXPECT_EQ(environment.find(evil.string()), std::string::npos) << environment;
}

} // namespace
} // namespace tarnvik

namespace tarnvik {
namespace {

// The guard with a helper that fails three times (the first at its deadline, so that what it may
// have made is released): held only once a hold has succeeded, the failure said once and tried
// again after 1, 2 and 4 ticks; the hold recorded as this copy's and
// released at stop. A later start releases what a copy that no longer runs recorded, unless a
// copy that runs holds the same address.
TEST(Guard, HeldOnlyOnSuccessRetriedLessAndLessOftenAndReleasedByItsOwnerAlone) {
    testing::TempDir dir;
    testing::RecordingRepair recorder{dir.path()};
    const Ipv4Value hop = ipv4FromOctets(198, 18, 0, 2);
    NeighbourReading now{.nextHop = hop, .interfaceIndex = 2, .linkAddress = "02:00:00:00:00:02"};
    const NeighbourReading genuine = now;
    std::vector<int> holdsAt;
    std::vector<std::string> released;
    bool inTable = false; // the hold, as the table shows it once made
    int tick = 0;
    auto settings = recorder.settings();
    settings.evidence = EvidenceSettings{dir.path(),
                                         [] { return std::string("T"); },
                                         [&](Ipv4Value, NeighbourReading& reading) {
                                             reading = now;
                                             if (inTable) {
                                                 reading = genuine;
                                                 reading.state = "PERMANENT";
                                             }
                                             return 0;
                                         },
                                         nullptr,
                                         nullptr,
                                         nullptr};
    GuardSettings guard;
    guard.hold = [&](const NeighbourReading& held) {
        EXPECT_EQ(held.linkAddress, genuine.linkAddress);
        holdsAt.push_back(tick);
        inTable = holdsAt.size() > 3;
        // The first one ends at its deadline, having made the entry or not.
        return os::RunOutcome{0, inTable ? 0 : 1, holdsAt.size() == 1};
    };
    guard.release = [&](const NeighbourReading& held) {
        released.push_back(hopAddress(held));
        return os::RunOutcome{};
    };
    guard.records = dir.path() / "holds";
    guard.holds = true;
    settings.guard = guard;
    settings.background = std::launch::deferred;
    const auto records = [&] { return os::filesIn(guard.records).size(); };
    {
        RepairAction repair(settings);
        repair.startWatching();
        auto at = [&](const char* mac) {
            now.linkAddress = mac;
            repair.beginTick("198.18.0.2");
            ++tick;
        };
        at("02:00:00:00:00:02"); // armed after the flush: the proven baseline
        at("02:00:00:00:00:66");
        at("02:00:00:00:00:02");
        for (int i = 0; i < 12; ++i) { // a flip-flop: confirmed at once
            at(i % 2 == 0 ? "02:00:00:00:00:66" : "02:00:00:00:00:02");
        }
        EXPECT_EQ(holdsAt, (std::vector<int>{3, 4, 6, 10})) << "retried after 1, 2 and 4 ticks";
        EXPECT_EQ(released, std::vector<std::string>{"198.18.0.2"})
            << "what the hold that timed out may have made";
        EXPECT_EQ(std::count_if(recorder.reports.begin(), recorder.reports.end(),
                                [](const std::string& line) {
                                    return line.find("cannot hold 198.18.0.2") == 0;
                                }),
                  1);
        EXPECT_EQ(recorder.reports.back(), "holding 198.18.0.2 at 02:00:00:00:00:02 as a static "
                                           "entry while the attack goes on");
        EXPECT_EQ(records(), 1u);
    }
    EXPECT_EQ(released, std::vector<std::string>(2, "198.18.0.2")) << "released as the copy ends";
    EXPECT_EQ(records(), 0u);

    // Left by copies that were killed: one alone, one beside a running copy's hold.
    auto write = [&](const char* name, const std::string& owner, Ipv4Value address) {
        NeighbourReading held = genuine;
        held.nextHop = address;
        os::replaceFile(guard.records / name, holdRecordText({owner, held}), true);
    };
    write("hold-dead", "999999999 1", ipv4FromOctets(198, 18, 0, 7));
    write("hold-dead-too", "999999999 2", ipv4FromOctets(198, 18, 0, 8));
    write("hold-live", os::processToken(), ipv4FromOctets(198, 18, 0, 8));
    write("hold-garbled", "999999999 3", ipv4FromOctets(198, 18, 0, 9));
    os::replaceFile(guard.records / "hold-garbled", "999999999 3\n198.18.0.09\n2\nx\n", true);
    // A router's, and one whose address would not be the helper's to read.
    os::replaceFile(guard.records / "hold-dead-router", "999999999 1\nfe80::1\n2\nx\n", true);
    os::replaceFile(guard.records / "hold-garbled-router", "999999999 3\nfe80::1 -x\n2\nx\n", true);
    released.clear();
    settings.guard->holds = false; // every start cleans up, with or without --guard
    RepairAction{settings};
    EXPECT_EQ(released, (std::vector<std::string>{"198.18.0.7", "fe80::1"}));
    EXPECT_EQ(os::filesIn(guard.records),
              (std::vector<std::filesystem::path>{guard.records / "hold-garbled",
                                                  guard.records / "hold-garbled-router",
                                                  guard.records / "hold-live"}));
}

} // namespace
} // namespace tarnvik

namespace tarnvik {
namespace {

// The IPv6 routers read once a tick, as on Windows (which tells no changes): their entries are
// flushed before the first reading; a forged neighbour and a rogue router each have an attack
// line and a flush of the IPv6 entries; a router's going is only a record, unless its entry took
// another address as its route went (a forged advertisement with the router flag clear, or a
// lifetime of 0 from another address): that is an attack whose route was lost. With --guard, a
// flip-flop has the router's genuine entry held, with its record, until monitoring stops.
TEST_F(RepairTest, Ipv6RoutersReadEachTickGiveTheirVerdictsLinesFlushesAndHolds) {
    const auto ipv6Marks = dir.path() / "ipv6-flushed";
    std::vector<Ipv6Router> table;
    std::vector<Verdict> verdicts;
    const auto router = [](std::uint8_t last, const std::string& mac) {
        Ipv6Router r;
        r.interfaceIndex = 12;
        r.address = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last};
        r.linkAddress = mac;
        r.state = "STALE";
        return r;
    };
    auto settings = recorder.settings();
    settings.ipv6Command = {"/bin/sh", "-c", "echo flushed >> \"$0\"", ipv6Marks.string()};
    settings.evidence.emplace();
    settings.evidence->logDirectory = dir.path();
    settings.evidence->isoTime = [] { return std::string("t"); };
    settings.evidence->read = [](Ipv4Value, NeighbourReading& reading) {
        return reading.local = true, 0;
    };
    // Entries of routers whose default route went: the forged advertisement's address, or none.
    std::map<int, std::string> unrouted;
    settings.evidence->readRouters = [&](std::vector<Ipv6Router>& routers,
                                         const std::vector<Ipv6Router>& known) {
        routers = table;
        addUnrouted(routers, known);
        for (auto& r : routers) {
            if (!r.routed && unrouted.count(r.address[15]) != 0) {
                r.linkAddress = unrouted[r.address[15]];
                r.state = "STALE";
            }
        }
        return 0;
    };
    settings.evidence->ipv6Text = [](const Ipv6Address& address, int index) {
        return "fe80::" + std::to_string(address[15]) + "%" + std::to_string(index);
    };
    settings.evidence->systemLog = [&](const std::string&, Verdict verdict) {
        verdicts.push_back(verdict);
    };
    std::vector<std::string> holds;
    GuardSettings guard;
    guard.hold = [&](const NeighbourReading& held) {
        holds.push_back(std::to_string(held.interfaceIndex) + " " + hopAddress(held) + " " +
                        held.linkAddress);
        return os::RunOutcome{};
    };
    guard.release = [&](const NeighbourReading& held) {
        holds.push_back("release " + hopAddress(held));
        return os::RunOutcome{};
    };
    guard.records = dir.path() / "holds";
    guard.holds = true;
    settings.guard = guard;
    settings.background = std::launch::deferred;
    RepairAction repair(settings);
    repair.startWatching();
    const auto tick = [&](std::vector<Ipv6Router> routers) {
        table = std::move(routers);
        repair.beginTick("10.0.0.1");
    };
    tick({router(1, "")});
    EXPECT_EQ(testing::countLines(ipv6Marks), 1) << "flushed and awaited before the watch";
    tick({router(1, "02:00:00:00:00:0a")});
    tick({router(1, "02:00:00:00:00:0b")});
    tick({router(1, "02:00:00:00:00:0b"), router(9, "02:00:00:00:00:0c")});
    unrouted[1] = "02:00:00:00:00:0a"; // it left by itself: its own address stays
    tick({router(9, "02:00:00:00:00:0c")});
    unrouted.clear();
    EXPECT_EQ(verdicts, (std::vector{Verdict::watching, Verdict::changed, Verdict::newRouter,
                                     Verdict::watching, Verdict::routerGone}));
    EXPECT_EQ(readFile(dir.path() / kEvidenceLogName),
              "t\t10.0.0.1\tfe80::1%12\t02:00:00:00:00:0a\t02:00:00:00:00:0a\tSTALE\twatching\t-\n"
              "t\t10.0.0.1\tfe80::1%12\t02:00:00:00:00:0a\t02:00:00:00:00:0b\tSTALE\tchanged\t-\n"
              "t\t10.0.0.1\tfe80::9%12\t-\t02:00:00:00:00:0c\tSTALE\tnew-router\t-\n"
              "t\t10.0.0.1\tfe80::9%12\t02:00:00:00:00:0c\t02:00:00:00:00:0c\tSTALE\twatching\t-\n"
              "t\t10.0.0.1\tfe80::1%12\t02:00:00:00:00:0a\t-\tnone\trouter-gone\t-\n");
    EXPECT_EQ(recorder.logLines(), 2) << "an attack line for the change and the new router";
    EXPECT_TRUE(waitUntil([&] { return testing::countLines(ipv6Marks) == 3; }));
    EXPECT_EQ(recorder.commandsStarted(), 0) << "the IPv4 cache is not flushed for them";

    tick({router(1, "02:00:00:00:00:0a"), router(9, "02:00:00:00:00:0c")});
    EXPECT_TRUE(holds.empty()) << "one change is no confirmed attack";
    tick({router(1, "02:00:00:00:00:0b"), router(9, "02:00:00:00:00:0c")});
    EXPECT_EQ(holds, std::vector<std::string>{"12 fe80::1 02:00:00:00:00:0a"});
    EXPECT_EQ(os::filesIn(guard.records).size(), 1u) << "recorded for a later start";
    auto shownHeld = router(1, "02:00:00:00:00:0a");
    shownHeld.state = "PERMANENT";
    tick({shownHeld, router(9, "02:00:00:00:00:0c")});
    EXPECT_EQ(holds.size(), 1u);
    tick({router(1, "02:00:00:00:00:0a"), router(9, "02:00:00:00:00:0c")});
    EXPECT_EQ(holds.size(), 2u) << "held again once the table no longer shows the hold";
    const auto lines = recorder.logLines();
    const auto flushes = testing::countLines(ipv6Marks);
    unrouted[9] = "02:00:00:00:00:66"; // taken over as its route went
    tick({shownHeld});
    EXPECT_EQ(verdicts.back(), Verdict::changed);
    EXPECT_EQ(recorder.logLines(), lines + 1);
    EXPECT_TRUE(waitUntil([&] { return testing::countLines(ipv6Marks) == flushes + 1; }));
    repair.stopWatching();
    EXPECT_EQ(holds.back(), "release fe80::1");
    EXPECT_TRUE(os::filesIn(guard.records).empty());
    const auto evidence = readFile(dir.path() / kEvidenceLogName);
    const std::string heldLine =
        "fe80::1%12\t02:00:00:00:00:0a\t02:00:00:00:00:0a\tPERMANENT\theld";
    EXPECT_NE(evidence.find(heldLine), std::string::npos) << evidence;
    EXPECT_EQ(evidence.find(heldLine), evidence.rfind(heldLine)) << "one held line";
    EXPECT_NE(evidence.find("fe80::1%12\t02:00:00:00:00:0a\t-\tnone\treleased"), std::string::npos)
        << evidence;
    EXPECT_NE(evidence.find("fe80::9%12\t02:00:00:00:00:0c\t02:00:00:00:00:66\tSTALE,route-lost\t"
                            "changed"),
              std::string::npos)
        << evidence;
}

} // namespace
} // namespace tarnvik

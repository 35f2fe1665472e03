// SPDX-License-Identifier: MIT
// The Windows edition on the LAN: the real tarnvik.exe under Wine, in the workstation's namespace
// with a Wine session of its own (the echo leaves from the namespace of the session's server),
// driven through the keyboard. Its lamp is read off the screen, its attack log and the marks of
// the stand-in arp.exe from outside.
#include "lan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

namespace tarnvik::netlab {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(WineEndToEnd, GreenWhileAnsweredThenRedWithOneRepairPerFailedProbe) {
    if (const auto reason = lanUnavailableReason(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    if (std::string(TARNVIK_WINDOWS_BUILD).empty()) {
        GTEST_SKIP() << "the Windows edition was not built (tools/test builds it)";
    }
    const fs::path prefix = TARNVIK_WINE_PREFIX;
    const std::vector<std::string> session{
        "env", "WINEPREFIX=" + prefix.string(), "WINEARCH=win64", "WINEDEBUG=-all",
        "WINEDLLOVERRIDES=mscoree,mshtml=;arp.exe=n;netsh.exe=n"};
    auto endSession = [&] {
        auto argv = session;
        argv.insert(argv.end(), {"wineserver", "-k"});
        run(argv);
    };
    // No server of this prefix may run outside the namespace, or the echo would leave from there.
    endSession();
    const fs::path system32 = prefix / "drive_c/windows/system32";
    const fs::path windows = TARNVIK_WINDOWS_BUILD;
    for (const char* command : {"arp.exe", "netsh.exe"}) {
        fs::copy_file(windows / "tests/win32/command_double.exe", system32 / command,
                      fs::copy_options::overwrite_existing);
    }
    fs::remove(system32 / "command_double.log");

    Lan lan("w");
    Desktop desktop(lan.namespaces(), lan.ws());
    // The session's own processes outlive every program; with their streams on /dev/null they
    // hold no pipe of the lab's open.
    auto startSession = [&] {
        auto argv = session;
        argv.insert(argv.end(), {"DISPLAY=" + desktop.display(), "sh", "-c",
                                 "wineserver -p && wine cmd /c exit; true"});
        argv.insert(argv.begin(), {"sh", "-c", "exec \"$@\" </dev/null >/dev/null 2>&1", "-"});
        lan.namespaces().exec(lan.ws(), argv);
    };
    startSession();
    char pattern[] = "/tmp/tarnvik-wine-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    fs::copy_file(windows / "bin/tarnvik.exe", dir / "tarnvik.exe");
    auto program =
        desktop.start("/usr/bin/wine", dir, nullptr, {(dir / "tarnvik.exe").string()}, session);
    const std::string window = desktop.xdotool({"search", "--name", "^Tarnvik$"}).output;
    auto lamp = [&] {
        // The lamp's centre: 2760 + 255 / 2 twips across, 480 + 255 / 2 down, at 15 twips a pixel.
        return lan.namespaces()
            .exec(lan.ws(),
                  {"sh", "-c",
                   "DISPLAY=" + desktop.display() + " xwd -silent -id " +
                       window.substr(0, window.find('\n')) +
                       " | convert xwd:- -crop 1x1+192+40 txt:- | grep -o '#[0-9A-F]\\{6\\}'"})
            .output;
    };
    desktop.monitorAddress(kTargetIp);
    std::this_thread::sleep_for(2500ms);
    const std::string whileAnswered = lamp();
    EXPECT_FALSE(fs::exists(dir / "arp_log.log")) << "no repair while the target answers";

    lan.namespaces().sysctl(lan.target(), "net.ipv4.icmp_echo_ignore_all", "1");
    std::this_thread::sleep_for(4500ms);
    const std::string whileSilent = lamp();
    const int repairs = countLines(dir / "arp_log.log");
    const std::string marks = readFile(system32 / "command_double.log");
    int marked = 0;
    for (std::size_t at = 0; (at = marks.find("arp -d\t", at)) != std::string::npos; ++at) {
        ++marked;
    }

    // A forwarding man in the middle: every echo is answered, through the attacker, and the
    // tick's read of the table sees the change.
    lan.namespaces().sysctl(lan.target(), "net.ipv4.icmp_echo_ignore_all", "0");
    std::this_thread::sleep_for(2500ms);
    const int beforeAttack = countLines(dir / "arp_log.log");
    std::string whileAttacked;
    {
        ManInTheMiddle attacker(lan, ARP_FORGE, 2000);
        std::this_thread::sleep_for(3500ms);
        whileAttacked = lamp();
    }
    const int attackLines = countLines(dir / "arp_log.log") - beforeAttack;
    // Ending the session ends the program with it: a Wine process may outlive a SIGTERM.
    endSession();
    program->stop();

    EXPECT_EQ(whileAnswered, "#00FF00\n");
    EXPECT_EQ(whileSilent, "#FF0000\n");
    EXPECT_GE(repairs, 2) << "one repair per failed probe, about one a second";
    EXPECT_LE(repairs, 5);
    const std::string label = "\xb7\xa2\xc9\xfa"
                              "arp"
                              "\xb9\xa5\xbb\xf7\xb5\xc4\xca\xb1\xbc\xe4\xa3\xba";
    EXPECT_EQ(readFile(dir / "arp_log.log").rfind(label, 0), 0u);
    // One flush as monitoring starts, then one per repair (the last may not have left its mark
    // yet).
    EXPECT_GE(marked, repairs) << marks;
    EXPECT_LE(marked, repairs + 1) << marks;
    EXPECT_NE(marks.find("arp -d\tshow=0"), std::string::npos) << marks;
    // Wine's IP helper reports no IPv6 routes, yet the IPv6 entries are flushed before they are
    // watched, once, hidden.
    EXPECT_NE(marks.find("netsh interface ipv6 delete neighbors\tshow=0"), std::string::npos)
        << marks;
    // The evidence as the IP helper read it: the target kept its address.
    const std::string evidence = readFile(dir / "arp_evidence.log");
    EXPECT_NE(
        evidence.find(std::string("\t198.18.0.2\t198.18.0.2\t") + kTargetMac + '\t' + kTargetMac),
        std::string::npos)
        << evidence;
    EXPECT_EQ(whileAttacked, "#00FF00\n");
    EXPECT_GE(attackLines, 1) << "the change was seen while echoes were answered";
    EXPECT_NE(
        evidence.find(std::string("\t198.18.0.2\t198.18.0.2\t") + kTargetMac + '\t' + kAttackerMac),
        std::string::npos)
        << evidence;
    fs::remove_all(dir);

    // Wine resolves through this namespace's resolv.conf: a name server nobody holds.
    lan.namespaces().writeEtcFile(lan.ws(), "resolv.conf", "nameserver 198.18.0.99\n");
    lan.namespaces().sysctl(lan.ws(), "net.ipv4.neigh.eth0.mcast_solicit", "100");
    startSession();
    auto argv = session;
    argv.insert(argv.end(),
                {"TARNVIK_SILENT_NAME=www.silent.test", "timeout", "-k", "5", "60", "/usr/bin/wine",
                 fs::path(TARNVIK_WINDOWS_BUILD) / "tests/probe/probe_tests.exe",
                 "--gtest_filter=*SilentNameServer*"});
    const auto lookup = lan.namespaces().exec(lan.ws(), argv);
    endSession();
    EXPECT_EQ(lookup.exitCode, 0) << lookup.output;
    EXPECT_NE(lookup.output.find("[  PASSED  ] 1 test"), std::string::npos) << lookup.output;
}

} // namespace
} // namespace tarnvik::netlab

// SPDX-License-Identifier: MIT
// The Linux edition's settings: where the logs go, which helpers run the flush, the question,
// the announcements and the guard, and what cannot work here.
#include "diagnostics.h"
#include "ip_text.h"
#include "neighbour.h"
#include "repair.h"
#include "system.h"
#include "system_posix.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <unistd.h>

namespace tarnvik {

namespace os {

std::vector<Words> startupDiagnostics() {
    return tarnvik::startupDiagnostics(systemStartupFacts());
}

} // namespace os

std::filesystem::path attackLogDirectory(const std::filesystem::path& programDirectory,
                                         bool programDirectoryWritable,
                                         const std::string& xdgStateHome, const std::string& home) {
    if (programDirectoryWritable) {
        return programDirectory;
    }
    // The XDG base directory rules ignore a relative path. Without either there is no place of
    // the user's: a relative one would put the log wherever the working directory happens to be.
    const auto absolute = [](const std::string& path) { return !path.empty() && path[0] == '/'; };
    if (absolute(xdgStateHome)) {
        return std::filesystem::path(xdgStateHome) / "tarnvik";
    }
    if (absolute(home)) {
        return std::filesystem::path(home) / ".local" / "state" / "tarnvik";
    }
    return {};
}

std::vector<std::string> flushCommand(const std::filesystem::path& programDirectory,
                                      bool helperPresent, bool ipv6) {
    if (helperPresent) {
        if (ipv6) {
            return {(programDirectory / kFlushHelperName).string(), "ipv6"};
        }
        return {(programDirectory / kFlushHelperName).string()};
    }
    return {"ip", ipv6 ? "-6" : "-4", "neigh", "flush", "all"};
}

RepairSettings systemRepairSettings(std::function<std::string()> localDateTime) {
    const auto programDirectory = os::executableDirectory();
    const bool writable = os::writableDirectory(programDirectory);
    auto environment = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    };
    // An installed program never writes beside itself, under /usr, even where root may.
    std::error_code ignored;
    const bool installed =
        programDirectory == std::filesystem::weakly_canonical(TARNVIK_INSTALLED_BINDIR, ignored) ||
        programDirectory == std::filesystem::weakly_canonical(TARNVIK_PACKAGE_BINDIR, ignored);
    const bool root = ::geteuid() == 0;
    const auto logDirectory =
        installed && root ? std::filesystem::path("/var/log/tarnvik")
                          : attackLogDirectory(programDirectory, writable && !installed,
                                               environment("XDG_STATE_HOME"), environment("HOME"));
    if (logDirectory.empty()) {
        os::report("neither XDG_STATE_HOME nor HOME names an absolute directory, so the attack "
                   "log has no place to go; repairs will not run until one of them does");
    } else if (installed) {
        os::report("the attack log is " + (logDirectory / kAttackLogName).string());
    } else if (!writable) {
        os::report("cannot write to " + programDirectory.string() + "; the attack log is " +
                   (logDirectory / kAttackLogName).string());
    }
    RepairSettings settings{
        logDirectory,
        flushCommand(programDirectory, posix::executableFile(programDirectory / kFlushHelperName)),
        std::move(localDateTime),
        os::report,
        posix::runningPrivileged(),
        logDirectory != programDirectory,
        EvidenceSettings{logDirectory, os::currentIsoDateTime, readNeighbour,
                         neighbourWithLinkAddress, os::report, os::systemLog,
                         logDirectory != programDirectory, std::make_shared<NeighbourEvents>()},
    };
    settings.systemRecord = os::systemRecord;
    settings.ipv6Command = flushCommand(
        programDirectory, posix::executableFile(programDirectory / kFlushHelperName), true);
    settings.evidence->readRouters = readIpv6Routers;
    settings.evidence->ipv6Text = ipv6Text;
    settings.evidence->host = os::hostName();
    settings.evidence->user = os::userName();
    settings.evidence->interfaceName = interfaceName;
    settings.evidence->interfaceAddress = interfaceLinkAddress;
    settings.evidence->ipv6Holder = ipv6NeighbourWithLinkAddress;
    // The window shows them too: started from a menu, nobody reads standard error.
    settings.problems = os::startupDiagnostics();
    // The question to the next hop's known address, where tarnvik-arp may send it.
    const auto asker = programDirectory / "tarnvik-arp";
    if (posix::executableFile(asker) &&
        (::geteuid() == 0 || posix::hasFileCapability(asker, CAP_NET_RAW))) {
        const bool privileged = settings.privileged;
        settings.evidence->ask = [asker, privileged](const NeighbourReading& asked) {
            return os::runToEnd({asker.string(), "ask", std::to_string(asked.interfaceIndex),
                                 hopAddress(asked), asked.linkAddress, "900"},
                                privileged, kHelperDeadline);
        };
        // The same request without waiting for its answer tells the next hop our address; an
        // IPv6 router is told by a neighbour advertisement.
        settings.announce = AnnounceSettings{
            [asker, privileged](const NeighbourReading& genuine) {
                return os::runToEnd({asker.string(), genuine.ipv6.empty() ? "ask" : "tell",
                                     std::to_string(genuine.interfaceIndex), hopAddress(genuine),
                                     genuine.linkAddress},
                                    privileged, kHelperDeadline);
            },
            interfaceLinkAddress};
    } else {
        settings.problems.push_back(
            {texts::kCannotAsk, {asker.string(), std::to_string(kTicksAbsentForAMove)}});
        os::report(settings.problems.back().render());
    }
    return settings;
}

namespace {

bool inGroup(const char* name) {
    const group* wanted = ::getgrnam(name);
    if (wanted == nullptr) {
        return false;
    }
    if (::getgid() == wanted->gr_gid) {
        return true;
    }
    gid_t groups[NGROUPS_MAX];
    const int count = std::max(::getgroups(NGROUPS_MAX, groups), 0);
    return std::find(groups, groups + count, wanted->gr_gid) != groups + count;
}

std::string userName() {
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr ? user->pw_name : std::to_string(::getuid());
}

} // namespace

Words guardProblem(const std::filesystem::path& helper, bool present, bool root, bool member,
                   bool capable, const std::string& user) {
    const std::string path = helper.string();
    if (!present) {
        return {texts::kHoldHelperMissing, {path}};
    }
    if (root) {
        return {};
    }
    if (!member) {
        return {texts::kNotInGroup, {path, user}};
    }
    if (!capable) {
        return {texts::kHoldHelperIncapable, {path}};
    }
    return {};
}

// tarnvik-hold beside the program, run to its end; the records in the user's runtime
// directory, else beside the logs.
GuardSettings systemGuardSettings(const RepairSettings& settings) {
    const auto helper = os::executableDirectory() / "tarnvik-hold";
    const bool privileged = settings.privileged;
    GuardSettings guard;
    guard.hold = [helper, privileged](const NeighbourReading& genuine) {
        return os::runToEnd({helper.string(), std::to_string(genuine.interfaceIndex),
                             hopAddress(genuine), genuine.linkAddress},
                            privileged, kHelperDeadline);
    };
    guard.release = [helper, privileged](const NeighbourReading& held) {
        return os::runToEnd({helper.string(), "--release", std::to_string(held.interfaceIndex),
                             hopAddress(held), held.linkAddress},
                            privileged, kHelperDeadline);
    };
    const auto runtime = os::runtimeDirectory();
    guard.records = runtime.empty() ? settings.logDirectory : runtime;
    const bool present = posix::executableFile(helper);
    guard.unusable =
        guardProblem(helper, present, ::geteuid() == 0, inGroup("tarnvik"),
                     present && posix::hasFileCapability(helper, CAP_NET_ADMIN), userName());
    return guard;
}

StartupFacts systemStartupFacts() {
    StartupFacts facts;
    facts.echoSocket = systemEchoSocketKind();
    facts.privileged = posix::runningPrivileged();
    facts.helper = os::executableDirectory() / kFlushHelperName;
    facts.helperPresent = posix::executableFile(facts.helper);
    facts.helperCapable =
        facts.helperPresent && posix::hasFileCapability(facts.helper, CAP_NET_ADMIN);
    return facts;
}

} // namespace tarnvik

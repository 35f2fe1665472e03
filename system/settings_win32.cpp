// SPDX-License-Identifier: MIT
// The Windows edition's settings: where the logs go, arp and netsh for the flush and the guard,
// SendARP for the announcements, and what cannot work here.

// Winsock 2 before windows.h (which system_win32.h brings).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "diagnostics.h"
#include "ip_text.h"
#include "neighbour.h"
#include "repair.h"
#include "system.h"
#include "system_win32.h"

#include <iphlpapi.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

namespace tarnvik {

namespace win32 {

std::vector<Words> startupDiagnostics(bool elevated) {
    if (elevated) {
        return {};
    }
    return {{texts::kNotElevated}};
}

// Windows sends no raw frame without a driver, but SendARP to the next hop sends an ARP request
// addressed to it that carries this machine's genuine mapping, which a Linux peer takes at once.
// It blocks until the answer or its own timeout: the caller runs it off the window's thread.
os::RunOutcome announceBySendArp(const NeighbourReading& genuine) {
    if (!genuine.ipv6.empty()) {
        // Windows sends no neighbour advertisement on request: an IPv6 router is not told.
        return {ERROR_NOT_SUPPORTED, 0, false};
    }
    ULONG answer[2] = {};
    ULONG length = sizeof answer;
    const DWORD error = ::SendARP(static_cast<IPAddr>(genuine.nextHop), 0, answer, &length);
    return {error == NO_ERROR ? 0 : static_cast<int>(error), 0, false};
}

} // namespace win32

namespace os {

std::vector<Words> startupDiagnostics() {
    return win32::startupDiagnostics(win32::runningElevated());
}

} // namespace os

namespace {

// The user's local application data folder for Tarnvik; empty when there is none.
std::filesystem::path localAppData() {
    std::filesystem::path folder;
    PWSTR path = nullptr;
    // FOLDERID_LocalAppData, written out: libuuid would bring every GUID of Windows (130 KB).
    static constexpr GUID kLocalAppData = {
        0xf1b32785, 0x6fba, 0x4fcf, {0x9d, 0x55, 0x7b, 0x8e, 0x7f, 0x15, 0x70, 0x91}};
    if (::SHGetKnownFolderPath(kLocalAppData, 0, nullptr, &path) == S_OK) {
        folder = std::filesystem::path(path) / L"Tarnvik";
    }
    ::CoTaskMemFree(path);
    return folder;
}

} // namespace

RepairSettings systemRepairSettings(std::function<std::string()> localDateTime) {
    const auto programDirectory = os::executableDirectory();
    const bool writable = os::writableDirectory(programDirectory);
    std::filesystem::path logDirectory = programDirectory;
    if (!writable) {
        // An install under Program Files: the user's own local application data instead.
        if (const auto folder = localAppData(); !folder.empty()) {
            logDirectory = folder;
        }
        os::report("cannot write to " + os::pathText(programDirectory) + "; the attack log is " +
                   os::pathText(logDirectory / kAttackLogName));
    }
    RepairSettings settings{
        logDirectory,
        {"arp", "-d"},
        std::move(localDateTime),
        os::report,
        win32::runningElevated(),
        !writable,
        EvidenceSettings{logDirectory, os::currentIsoDateTime, readNeighbour,
                         neighbourWithLinkAddress, os::report, os::systemLog},
    };
    settings.systemRecord = os::systemRecord;
    // The IPv6 routers are read once a tick: Windows tells no neighbour changes.
    settings.ipv6Command = {"netsh", "interface", "ipv6", "delete", "neighbors"};
    settings.evidence->readRouters = readIpv6Routers;
    settings.evidence->ipv6Text = ipv6Text;
    settings.evidence->host = os::hostName();
    settings.evidence->user = os::userName();
    settings.evidence->interfaceName = interfaceName;
    settings.evidence->interfaceAddress = interfaceLinkAddress;
    settings.evidence->ipv6Holder = ipv6NeighbourWithLinkAddress;
    // The window shows them too: started from a menu, nobody reads standard error.
    settings.problems = os::startupDiagnostics();
    settings.announce = AnnounceSettings{win32::announceBySendArp, interfaceLinkAddress};
    return settings;
}

namespace {

// The IPv4 address of an interface, as arp names it; empty when it has none.
std::string interfaceAddress(int interfaceIndex) {
    ULONG size = 0;
    ::GetIpAddrTable(nullptr, &size, FALSE);
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (size == 0 || ::GetIpAddrTable(table, &size, FALSE) != NO_ERROR) {
        return {};
    }
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (static_cast<int>(table->table[i].dwIndex) == interfaceIndex) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(&table->table[i].dwAddr);
            return dottedText(ipv4FromOctets(bytes[0], bytes[1], bytes[2], bytes[3]));
        }
    }
    return {};
}

} // namespace

namespace win32 {

std::optional<os::RunOutcome> guardRefusal(const NeighbourReading& now,
                                           const NeighbourReading& ours, bool release) {
    const bool fixed = now.state == "PERMANENT";
    if (release) {
        // Not what we hold (gone, learnt again, or another's static entry): nothing of ours.
        return fixed && now.linkAddress == ours.linkAddress ? std::nullopt
                                                            : std::optional(os::RunOutcome{});
    }
    // Refused as tarnvik-hold refuses: exit status 3.
    return fixed ? std::optional(os::RunOutcome{0, 3, false}) : std::nullopt;
}

} // namespace win32

namespace {

// The entry of the neighbour that `reading` names, as the table holds it now.
NeighbourReading entryNow(const NeighbourReading& reading) {
    NeighbourReading now;
    std::array<std::uint8_t, 16> bytes{};
    const bool ipv6 = !reading.ipv6.empty();
    if (ipv6) {
        in6_addr address{};
        if (::inet_pton(AF_INET6, hopAddress(reading).c_str(), &address) != 1) {
            return now;
        }
        std::memcpy(bytes.data(), &address, 16);
    } else {
        std::memcpy(bytes.data(), &reading.nextHop, 4);
    }
    (void)readEntry(reading.interfaceIndex, std::span(bytes.data(), ipv6 ? 16 : 4), now);
    return now;
}

} // namespace

// arp -s and arp -d for the one address on its interface (netsh's add and delete neighbors for
// an IPv6 router's), run to their end (elevated, like the
// repair's arp -d). Windows marks no static entry as anyone's: each copy's record in the user's
// local application data says what it holds, and the table is read first (guardRefusal).
GuardSettings systemGuardSettings(const RepairSettings& settings) {
    const bool privileged = settings.privileged;
    // The repair's own program: arp from the system directory.
    const std::string arp = settings.command.empty() ? "arp" : settings.command.front();
    GuardSettings guard;
    guard.hold = [privileged, arp](const NeighbourReading& genuine) {
        if (const auto refused = win32::guardRefusal(entryNow(genuine), genuine, false)) {
            return *refused;
        }
        std::string mac = genuine.linkAddress;
        std::replace(mac.begin(), mac.end(), ':', '-');
        if (!genuine.ipv6.empty()) {
            // An IPv6 router's entry, on its interface by index.
            return os::runToEnd({"netsh", "interface", "ipv6", "add", "neighbors",
                                 std::to_string(genuine.interfaceIndex), hopAddress(genuine), mac},
                                privileged, kHelperDeadline);
        }
        const std::string via = interfaceAddress(genuine.interfaceIndex);
        if (via.empty()) {
            return os::RunOutcome{ERROR_NOT_FOUND};
        }
        return os::runToEnd({arp, "-s", dottedText(genuine.nextHop), mac, via}, privileged,
                            kHelperDeadline);
    };
    guard.release = [privileged, arp](const NeighbourReading& held) {
        if (const auto refused = win32::guardRefusal(entryNow(held), held, true)) {
            return *refused;
        }
        if (!held.ipv6.empty()) {
            return os::runToEnd({"netsh", "interface", "ipv6", "delete", "neighbors",
                                 std::to_string(held.interfaceIndex), hopAddress(held)},
                                privileged, kHelperDeadline);
        }
        const std::string via = interfaceAddress(held.interfaceIndex);
        std::vector<std::string> argv{arp, "-d", dottedText(held.nextHop)};
        if (!via.empty()) {
            argv.push_back(via);
        }
        return os::runToEnd(argv, privileged, kHelperDeadline);
    };
    // The user's own: never beside the program, where another user may put a record that would
    // have an elevated start delete an entry.
    guard.records = localAppData();
    if (!settings.privileged) {
        guard.unusable = {texts::kGuardNotElevated};
    }
    return guard;
}

} // namespace tarnvik

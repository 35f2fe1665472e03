// SPDX-License-Identifier: MIT
// What the window says to the person at the desk: English here, shown in the desktop's language
// through the binding's translator (Qt's translations on Linux, string tables on Windows, both
// made from translations/tarnvik_zh_CN.ts). Logs, the journal, standard error and the list's
// lines keep the English. %1, %2 ... stand for values, which are never translated.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Marks a text for the translation tools; it is the text itself.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif

namespace tarnvik {

// A text's translation, given its English; the English itself where it has none.
using Translator = std::function<std::string(const char* english)>;

// A text to say and the values it names.
struct Words {
    const char* english = "";
    std::vector<std::string> values = {};

    bool empty() const { return *english == '\0'; }
    // In the language of `translate`, English without one.
    std::string render(const Translator& translate = nullptr) const;
};

namespace texts {
// The captions.
inline constexpr const char* kZdip = QT_TRANSLATE_NOOP("Tarnvik", "Keep this IP reachable");
inline constexpr const char* kZdym = QT_TRANSLATE_NOOP("Tarnvik", "Keep host reachable");
inline constexpr const char* kLabel2 = QT_TRANSLATE_NOOP("Tarnvik", "Status");
inline constexpr const char* kLabel3 = QT_TRANSLATE_NOOP("Tarnvik", "Green: up, red: fault");
inline constexpr const char* kStart = QT_TRANSLATE_NOOP("Tarnvik", "Start");
inline constexpr const char* kStop = QT_TRANSLATE_NOOP("Tarnvik", "Stop");
inline constexpr const char* kSwitchToHostName =
    QT_TRANSLATE_NOOP("Tarnvik", "Switch to host name");
inline constexpr const char* kSwitchToAddress =
    QT_TRANSLATE_NOOP("Tarnvik", "Switch to IP address");
inline constexpr const char* kCmdFormat = QT_TRANSLATE_NOOP("Tarnvik", "&Convert to IP");
inline constexpr const char* kCommand1 = QT_TRANSLATE_NOOP("Tarnvik", "&Ping");
inline constexpr const char* kCommand2 = QT_TRANSLATE_NOOP("Tarnvik", "Repair");
// The list's name for assistive technology.
inline constexpr const char* kList1 = QT_TRANSLATE_NOOP("Tarnvik", "Probe outcomes");
// The lamp's tip and description: the state in one sentence.
inline constexpr const char* kNotMonitoring = QT_TRANSLATE_NOOP("Tarnvik", "not monitoring");
inline constexpr const char* kMonitoring = QT_TRANSLATE_NOOP("Tarnvik", "monitoring %1");
inline constexpr const char* kStopped = QT_TRANSLATE_NOOP("Tarnvik", "stopped; last: %1");
inline constexpr const char* kAnswers = QT_TRANSLATE_NOOP("Tarnvik", "%1 answers");
inline constexpr const char* kDoesNotAnswer = QT_TRANSLATE_NOOP("Tarnvik", "%1 does not answer");
inline constexpr const char* kKeptItsAddress = QT_TRANSLATE_NOOP(
    "Tarnvik", "%1 does not answer; its next hop %2 kept its address: not an ARP attack");
inline constexpr const char* kNoLinkAddress = QT_TRANSLATE_NOOP(
    "Tarnvik", "%1 does not answer; its next hop %2 has no link-layer address now");
inline constexpr const char* kAttack =
    QT_TRANSLATE_NOOP("Tarnvik", "ARP attack: %1 changed from %2 to %3");
inline constexpr const char* kAttackHeldBy =
    QT_TRANSLATE_NOOP("Tarnvik", "ARP attack: %1 changed from %2 to %3, held by %4");
inline constexpr const char* kReplaced =
    QT_TRANSLATE_NOOP("Tarnvik", "next hop %1 replaced: %2 is taken as genuine from now on");
inline constexpr const char* kHolding =
    QT_TRANSLATE_NOOP("Tarnvik", "ARP attack: holding %1 at %2");
inline constexpr const char* kReleased = QT_TRANSLATE_NOOP("Tarnvik", "released the hold of %1");
inline constexpr const char* kEmptyBox =
    QT_TRANSLATE_NOOP("Tarnvik", "nothing to probe: the address box is empty");
inline constexpr const char* kCannotResolve =
    QT_TRANSLATE_NOOP("Tarnvik", "cannot resolve %1 to an IPv4 address");
inline constexpr const char* kNotAnAddress =
    QT_TRANSLATE_NOOP("Tarnvik", "not an IPv4 address, nothing probed: %1");
inline constexpr const char* kSettingIgnored = QT_TRANSLATE_NOOP("Tarnvik", "setting ignored: %1");
inline constexpr const char* kNotYetProbed = QT_TRANSLATE_NOOP("Tarnvik", "not yet probed");
inline constexpr const char* kGreen = QT_TRANSLATE_NOOP("Tarnvik", "green: %1");
inline constexpr const char* kRed = QT_TRANSLATE_NOOP("Tarnvik", "red: %1");
// What cannot work here, each with its remedy.
inline constexpr const char* kCannotDoItsJob =
    QT_TRANSLATE_NOOP("Tarnvik", "Tarnvik cannot do all of its job here");
inline constexpr const char* kNoEchoSocket = QT_TRANSLATE_NOOP(
    "Tarnvik",
    "cannot open an ICMP socket, so every probe will fail: let your group use ping sockets (sysctl "
    "-w net.ipv4.ping_group_range=\"0 2147483647\"), or run the program as root");
inline constexpr const char* kNoFlushHelper =
    QT_TRANSLATE_NOOP("Tarnvik", "no %1; repairs start 'ip -4 neigh flush all', which needs root");
inline constexpr const char* kFlushHelperIncapable = QT_TRANSLATE_NOOP(
    "Tarnvik",
    "%1 lacks cap_net_admin, so repairs cannot flush the ARP cache: setcap cap_net_admin+ep %1");
inline constexpr const char* kCannotAsk = QT_TRANSLATE_NOOP(
    "Tarnvik", "cannot ask the next hop's known address directly nor tell it our address during an "
               "attack (%1 is missing or lacks cap_net_raw), so a changed address is taken as a "
               "move only after the old one has stayed away for %2 s and the other direction is "
               "not defended; as root: setcap cap_net_raw+ep %1");
inline constexpr const char* kHoldHelperMissing = QT_TRANSLATE_NOOP(
    "Tarnvik", "--guard: the hold helper %1 is missing, so nothing will be held; install the "
               "tarnvik package, or build tarnvik-hold beside tarnvik");
inline constexpr const char* kNotInGroup = QT_TRANSLATE_NOOP(
    "Tarnvik", "--guard: only root and the group tarnvik may run %1, so nothing will be held; as "
               "root: adduser %2 tarnvik (it takes effect at the next login)");
inline constexpr const char* kHoldHelperIncapable =
    QT_TRANSLATE_NOOP("Tarnvik", "--guard: %1 lacks cap_net_admin, so nothing will be held; as "
                                 "root: setcap cap_net_admin+ep %1");
inline constexpr const char* kNotElevated = QT_TRANSLATE_NOOP(
    "Tarnvik", "repairs start 'arp -d', which needs an elevated process, so they cannot flush the "
               "ARP cache: start tarnvik.exe with 'Run as administrator'");
inline constexpr const char* kGuardNotElevated =
    QT_TRANSLATE_NOOP("Tarnvik", "--guard: arp -s needs an elevated Tarnvik, so nothing will be "
                                 "held; start it with Run as administrator");
// The desktop notifications.
inline constexpr const char* kTheTarget = QT_TRANSLATE_NOOP("Tarnvik", "the target");
inline constexpr const char* kAttackOn = QT_TRANSLATE_NOOP("Tarnvik", "ARP attack on %1");
inline constexpr const char* kAttackBody =
    QT_TRANSLATE_NOOP("Tarnvik", "The link-layer address of %1 changed from %2 to %3.");
inline constexpr const char* kAttackHeldByBody =
    QT_TRANSLATE_NOOP("Tarnvik", "The link-layer address of %1 changed from %2 to %3, held by %4.");
inline constexpr const char* kReplacedTitle =
    QT_TRANSLATE_NOOP("Tarnvik", "Next hop of %1 replaced");
inline constexpr const char* kReplacedBody =
    QT_TRANSLATE_NOOP("Tarnvik", "The link-layer address of %1 changed from %2 to %3 and the old "
                                 "one is gone; the new one is taken as genuine.");
inline constexpr const char* kStoppedKeeps =
    QT_TRANSLATE_NOOP("Tarnvik", "It stopped answering; its next hop %1 keeps its address %2.");
inline constexpr const char* kStoppedNoLink = QT_TRANSLATE_NOOP(
    "Tarnvik", "It stopped answering, and its next hop %1 has no link-layer address now.");
inline constexpr const char* kStoppedAnswering =
    QT_TRANSLATE_NOOP("Tarnvik", "It stopped answering.");
inline constexpr const char* kAnswersAgain = QT_TRANSLATE_NOOP("Tarnvik", "%1 answers again");
inline constexpr const char* kAnsweredAgain =
    QT_TRANSLATE_NOOP("Tarnvik", "Echo requests are answered again.");
inline constexpr const char* kDefendingTitle =
    QT_TRANSLATE_NOOP("Tarnvik", "Defending %1 both ways");
inline constexpr const char* kToldOurAddress =
    QT_TRANSLATE_NOOP("Tarnvik", "told %1 our address %2 while the attack goes on");
inline constexpr const char* kRouterAttackTitle =
    QT_TRANSLATE_NOOP("Tarnvik", "IPv6 attack on this computer's routers");
inline constexpr const char* kRouterChanged =
    QT_TRANSLATE_NOOP("Tarnvik", "IPv6 attack: router %1 changed from %2 to %3");
inline constexpr const char* kRouterChangedRouteLost = QT_TRANSLATE_NOOP(
    "Tarnvik",
    "IPv6 attack: router %1 changed from %2 to %3, and its default route was lost with it");
inline constexpr const char* kRouterFloodTitle =
    QT_TRANSLATE_NOOP("Tarnvik", "Flood of IPv6 router advertisements");
inline constexpr const char* kRouterFlood = QT_TRANSLATE_NOOP(
    "Tarnvik", "More than %1 IPv6 default routers (the latest %2): those beyond are not watched");
inline constexpr const char* kRouterLeft = QT_TRANSLATE_NOOP(
    "Tarnvik", "IPv6 router %1 left by itself (its default route went): no attack");
inline constexpr const char* kNewRouter =
    QT_TRANSLATE_NOOP("Tarnvik", "IPv6 attack: new default router %1 at %2");
inline constexpr const char* kRouterReplaced =
    QT_TRANSLATE_NOOP("Tarnvik", "IPv6 router %1 replaced: %2 is taken as genuine from now on");
inline constexpr const char* kRouterReplacedTitle =
    QT_TRANSLATE_NOOP("Tarnvik", "This computer's IPv6 router replaced");
// The notification-area icon's tip (Windows).
inline constexpr const char* kTrayMonitoring = QT_TRANSLATE_NOOP("Tarnvik", "Tarnvik: monitoring");
inline constexpr const char* kTrayGreen =
    QT_TRANSLATE_NOOP("Tarnvik", "Tarnvik: green, the target answers");
inline constexpr const char* kTrayRed =
    QT_TRANSLATE_NOOP("Tarnvik", "Tarnvik: red, the target does not answer");
} // namespace texts

} // namespace tarnvik

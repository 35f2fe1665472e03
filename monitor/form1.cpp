// SPDX-License-Identifier: MIT
#include "form1.h"
#include "diagnostics.h"
#include "ip_text.h"

#include <utility>

namespace tarnvik {

TwipsRect twipsGeometry(Control control) {
    switch (control) {
    case Control::zdip:
    case Control::zdym:
        return {120, 120, 2295, 735};
    case Control::txtPing:
    case Control::txtConvert:
        return {240, 240, 1935, 330};
    case Control::Label2:
        return {2520, 240, 720, 180};
    case Control::Shape1:
        return {2760, 480, 255, 255};
    case Control::Label3:
        return {480, 960, 2340, 180};
    case Control::zx:
        return {120, 1320, 3135, 375};
    case Control::qb:
        return {120, 1680, 3135, 375};
    // Beyond the right and bottom edges of the fixed client area: never seen, yet visible and
    // enabled, so the access keys and the Tab key still reach them.
    case Control::List1:
        return {2640, 3720, 4080, 1860};
    case Control::cmdFormat:
        return {4560, 6240, 2145, 375};
    case Control::Command1:
        return {7080, 6120, 855, 375};
    case Control::Command2:
        return {7080, 6480, 855, 375};
    case Control::Timer1:
        break;
    }
    return {0, 0, 0, 0};
}

Form1::Form1(Controls& controls, EchoClientFactory makeEchoClient, RepairSettings repair)
    : controls_(controls), makeEchoClient_(std::move(makeEchoClient)), report_(repair.report),
      repair_(std::move(repair)) {
    repair_.onRecord([this](const EvidenceRecord& record) {
        recorded_ = stateOf(record);
        tell(*recorded_);
    });
}

std::string stateOf(const EvidenceRecord& record) {
    const std::string hop = dottedText(record.now.nextHop);
    const std::string was = record.baseline ? record.baseline->linkAddress : "";
    const std::string silent = printableExcerpt(record.probed) + " does not answer";
    switch (record.verdict) {
    case Verdict::changed:
        return "ARP attack: " + hop + " changed from " + was + " to " + record.now.linkAddress +
               (record.attacker ? ", held by " + dottedText(*record.attacker) : "");
    case Verdict::moved:
        return "next hop " + hop + " replaced: " + record.now.linkAddress +
               " is taken as genuine from now on";
    case Verdict::held:
        return "ARP attack: holding " + hop + " at " + record.now.linkAddress;
    case Verdict::released:
        return "released the hold of " + hop;
    case Verdict::unchanged:
        return silent + "; its next hop " + hop + " kept its address: not an ARP attack";
    case Verdict::unresolved:
        return silent + "; its next hop " + hop + " has no link-layer address now";
    case Verdict::unknown:
    case Verdict::local:
        break;
    }
    return silent;
}

void Form1::tell(const std::string& state) {
    state_ = state;
    std::string tip;
    for (const auto& problem : repair_.problems()) {
        tip += problem + "\n";
    }
    controls_.setToolTip(Control::Shape1, tip + state_);
}

void Form1::Form_Load() {
    tell("not monitoring");
    cping_ = makeEchoClient_ ? makeEchoClient_() : nullptr;
    if (cping_) {
        cping_->PingReturn = [this](std::string& ipAddress, std::string& successStatus,
                                    std::int32_t& roundTripMilliseconds) {
            cping_PingReturn(ipAddress, successStatus, roundTripMilliseconds);
        };
    }
}

void Form1::Form_QueryUnload() {
    // Closing ends monitoring: a hold made for it goes too.
    repair_.stopWatching();
    cping_.reset();
}

void Form1::zx_Click() {
    const std::string state = controls_.caption(Control::zx);
    if (state == captions::kStart) {
        controls_.setCaption(Control::zx, captions::kStop);
        controls_.setEnabled(Control::qb, false);
        if (controls_.visible(Control::zdym)) {
            cmdFormat_Click();
        }
        controls_.setEnabled(Control::Timer1, true);
        repair_.tellProblems();
        repair_.startWatching();
        tell("monitoring " + printableExcerpt(typedTarget()));
    } else if (state == captions::kStop) {
        controls_.setCaption(Control::zx, captions::kStart);
        controls_.setEnabled(Control::qb, true);
        controls_.setEnabled(Control::Timer1, false);
        repair_.stopWatching();
        // The lamp keeps its colour; the tip says it is stale.
        tell("stopped; last: " + state_);
    }
}

void Form1::Timer1_Timer() {
    controls_.clear(Control::List1);
    // The next hop's entry before the probe goes out: a change is an attack even if the echo is
    // answered through it.
    if (cping_) {
        repair_.beginTick(typedTarget());
    }
    probeTarget();
}

std::string Form1::typedTarget() const {
    const std::string text = controls_.text(Control::txtPing);
    const auto first = text.find_first_not_of(" \t");
    return first == std::string::npos
               ? std::string()
               : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void Form1::neighbourEventsReady() {
    if (cping_) {
        repair_.neighbourEventsReady();
    }
}

void Form1::probeTarget() {
    if (!cping_) {
        return;
    }
    probing_ = typedTarget();
    recorded_.reset();
    std::string target = probing_;
    cping_->Ping(target);
}

std::string Form1::noTarget(const std::string& typed, const std::string& probed) const {
    if (typed.empty()) {
        return "nothing to probe: the address box is empty";
    }
    if (webStyleAddress(typed)) {
        // Only a web-style text is rewritten to empty: its name did not resolve.
        return probed.empty() && !resolvedNames_.contains(typed)
                   ? "cannot resolve " + printableExcerpt(typed) + " to an IPv4 address"
                   : std::string();
    }
    return probeTargetAddress(typed)
               ? std::string()
               : "not an IPv4 address, nothing probed: " + printableExcerpt(typed);
}

void Form1::reportUnresolved(const std::string& name) {
    // A blank text names nothing, so nothing failed to resolve.
    if (report_ && name.find_first_not_of(' ') != std::string::npos) {
        report_("cannot resolve " + printableExcerpt(name) + " to an IPv4 address");
    }
}

void Form1::cping_PingReturn(std::string& ipAddress, std::string& successStatus,
                             std::int32_t& roundTripMilliseconds) {
    controls_.addItem(Control::List1, ipAddress + '\t' + successStatus + '\t' +
                                          std::to_string(roundTripMilliseconds));
    const std::string typed = std::exchange(probing_, std::string());
    if (webStyleAddress(typed) && !ipAddress.empty()) {
        resolvedNames_.insert(typed);
    }
    const std::string shown = printableExcerpt(typed.empty() ? ipAddress : typed);
    if (successStatus == "success") {
        toldNoTarget_.reset();
        controls_.setFillColor(Control::Shape1, kGreen);
        repair_.answered(ipAddress);
        tell(recorded_.value_or(shown + " answers"));
        return;
    }
    controls_.setFillColor(Control::Shape1, kRed);
    // No target is no attack: nothing is logged or flushed, and the reason is told once for the
    // run of probes of the same text.
    if (const std::string why = noTarget(typed, ipAddress); !why.empty()) {
        if (toldNoTarget_ != typed && report_) {
            report_(why);
        }
        toldNoTarget_ = typed;
        tell(why);
        return;
    }
    toldNoTarget_.reset();
    if (webStyleAddress(typed) && ipAddress.empty()) {
        reportUnresolved(typed); // it resolved before: a poisoned gateway's name server
    }
    repair_.failed(ipAddress);
    Command2_Click();
    tell(recorded_.value_or(shown + " does not answer"));
}

void Form1::Command2_Click() {
    repair_.run();
}

void Form1::qb_Click() {
    const std::string mode = controls_.caption(Control::qb);
    if (mode == captions::kSwitchToAddress) {
        controls_.setCaption(Control::qb, captions::kSwitchToHostName);
        controls_.setVisible(Control::zdip, true);
        controls_.setVisible(Control::zdym, false);
    } else if (mode == captions::kSwitchToHostName) {
        controls_.setCaption(Control::qb, captions::kSwitchToAddress);
        controls_.setVisible(Control::zdym, true);
        controls_.setVisible(Control::zdip, false);
    }
}

void Form1::cmdFormat_Click() {
    if (cping_) {
        const std::string name = controls_.text(Control::txtConvert);
        const std::string address = cping_->funcGetIPFromHostName(name);
        controls_.setText(Control::txtPing, address);
        if (address.empty()) {
            reportUnresolved(name);
        }
    }
}

void Form1::Command1_Click() {
    probeTarget();
}

} // namespace tarnvik

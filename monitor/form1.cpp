// SPDX-License-Identifier: MIT
#include "form1.h"
#include "diagnostics.h"
#include "ip_text.h"
#include "launch.h"

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
    case Control::Timer2:
        break;
    }
    return {0, 0, 0, 0};
}

Form1::Form1(Controls& controls, EchoClientFactory makeEchoClient, RepairSettings repair,
             std::function<void()> wake)
    : controls_(controls), makeEchoClient_(std::move(makeEchoClient)), offload_(std::move(wake)),
      report_(repair.report), repair_(std::move(repair)) {
    repair_.onRecord([this](const EvidenceRecord& record) {
        // The lamp keeps telling the attack; that our address is told goes to the notice, and
        // that a neighbour is watched from now on goes to the records alone.
        if (record.verdict == Verdict::announced || record.verdict == Verdict::watching) {
            return;
        }
        recorded_ = stateOf(record);
        tell(*recorded_);
    });
}

Words stateOf(const EvidenceRecord& record) {
    if (!record.now.ipv6.empty() &&
        (record.verdict == Verdict::changed || record.verdict == Verdict::newRouter ||
         record.verdict == Verdict::moved || record.verdict == Verdict::routerFlood ||
         record.verdict == Verdict::routerGone)) {
        return routerState(record);
    }
    const std::string hop = hopText(record.now);
    const std::string was = record.baseline ? record.baseline->linkAddress : "";
    const std::string probed = printableExcerpt(record.probed);
    switch (record.verdict) {
    case Verdict::changed:
        return record.attacker ? Words{texts::kAttackHeldBy,
                                       {hop, was, record.now.linkAddress, *record.attacker}}
                               : Words{texts::kAttack, {hop, was, record.now.linkAddress}};
    case Verdict::moved:
        return {texts::kReplaced, {hop, record.now.linkAddress}};
    case Verdict::held:
        return {texts::kHolding, {hop, record.now.linkAddress}};
    case Verdict::released:
        return {texts::kReleased, {hop}};
    case Verdict::announced:
        return {texts::kToldOurAddress, {hop, record.now.linkAddress}};
    case Verdict::unchanged:
        return {texts::kKeptItsAddress, {probed, hop}};
    case Verdict::unresolved:
        return {texts::kNoLinkAddress, {probed, hop}};
    case Verdict::unknown:
    case Verdict::local:
    case Verdict::newRouter:
    case Verdict::routerGone:
    case Verdict::routerFlood:
    case Verdict::watching:
        break;
    }
    return {texts::kDoesNotAnswer, {probed}};
}

void Form1::tell(const Words& state) {
    state_ = say(state);
    std::string tip;
    for (const auto& problem : repair_.problems()) {
        tip += say(problem) + "\n";
    }
    controls_.setToolTip(Control::Shape1, tip + state_);
}

void Form1::Form_Load() {
    tell({texts::kNotMonitoring});
    cping_ = makeEchoClient_ ? makeEchoClient_() : nullptr;
}

void Form1::Form_QueryUnload() {
    // Closing ends monitoring: a hold made for it goes too. A probe still out is waited for (at
    // most its wait) and its outcome dropped.
    tickWaiting_ = probeWaiting_ = convertWaiting_ = false;
    repair_.stopWatching();
    offload_.drop();
    cping_.reset();
}

void Form1::zx_Click() {
    const std::string state = controls_.caption(Control::zx);
    if (state == say({texts::kStart})) {
        controls_.setCaption(Control::zx, say({texts::kStop}));
        controls_.setEnabled(Control::qb, false);
        // In host-name mode the address comes from the lookup, which the first tick waits for.
        const bool byName = controls_.visible(Control::zdym);
        if (byName) {
            cmdFormat_Click();
        }
        controls_.setEnabled(Control::Timer1, true);
        repair_.tellProblems();
        repair_.startWatching();
        tell({texts::kMonitoring,
              {printableExcerpt(byName ? controls_.text(Control::txtConvert) : typedTarget())}});
    } else if (state == say({texts::kStop})) {
        controls_.setCaption(Control::zx, say({texts::kStart}));
        controls_.setEnabled(Control::qb, true);
        controls_.setEnabled(Control::Timer1, false);
        // What is out belongs to the monitoring that has ended.
        ++generation_;
        tickWaiting_ = false;
        repair_.stopWatching();
        followAnnouncements();
        // The lamp keeps its colour; the tip says it is stale.
        tell({texts::kStopped, {state_}});
    }
}

void Form1::Timer1_Timer() {
    // Ticks never overlap: one due while a probe is out runs once its outcome is handled.
    if (offload_.busy()) {
        tickWaiting_ = true;
        return;
    }
    controls_.clear(Control::List1);
    // The next hop's entry before the probe goes out: a change is an attack even if the echo is
    // answered through it.
    if (cping_) {
        repair_.beginTick(typedTarget());
        followAnnouncements();
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
        followAnnouncements();
    }
}

void Form1::Timer2_Timer() {
    if (!repair_.announceTick()) {
        followAnnouncements();
    }
}

void Form1::followAnnouncements() {
    if (repair_.announcing() != announcing_) {
        announcing_ = !announcing_;
        controls_.setEnabled(Control::Timer2, announcing_);
    }
}

void Form1::outcomeReady() {
    offload_.deliver();
}

void Form1::probeTarget() {
    if (!cping_) {
        return;
    }
    if (offload_.busy()) {
        probeWaiting_ = true;
        return;
    }
    probing_ = typedTarget();
    recorded_.reset();
    offload_.start([this, client = cping_.get(), target = probing_, generation = generation_,
                    arming = repair_.nextHopArming()]() mutable -> Offload::Continuation {
        if (arming.valid()) {
            arming.wait(); // the flush before the watch: milliseconds
        }
        struct Outcome {
            std::string ipAddress, successStatus;
            std::int32_t roundTrip = 0;
        } outcome;
        client->PingReturn = [&outcome](std::string& ipAddress, std::string& successStatus,
                                        std::int32_t& roundTripMilliseconds) {
            outcome = {ipAddress, successStatus, roundTripMilliseconds};
        };
        client->Ping(target);
        client->PingReturn = nullptr;
        return [this, outcome = std::move(outcome), generation]() mutable {
            if (generation == generation_) {
                cping_PingReturn(outcome.ipAddress, outcome.successStatus, outcome.roundTrip);
            }
            runWaiting();
        };
    });
}

void Form1::runWaiting() {
    if (std::exchange(convertWaiting_, false)) {
        convert();
    }
    if (!offload_.busy() && std::exchange(tickWaiting_, false)) {
        Timer1_Timer();
    }
    if (!offload_.busy() && std::exchange(probeWaiting_, false)) {
        probeTarget();
    }
}

Words Form1::noTarget(const std::string& typed, const std::string& probed) const {
    if (typed.empty()) {
        return {texts::kEmptyBox};
    }
    if (webStyleAddress(typed)) {
        // Only a web-style text is rewritten to empty: its name did not resolve.
        return probed.empty() && !resolvedNames_.contains(typed)
                   ? Words{texts::kCannotResolve, {printableExcerpt(typed)}}
                   : Words{};
    }
    return probeTargetAddress(typed) ? Words{}
                                     : Words{texts::kNotAnAddress, {printableExcerpt(typed)}};
}

void Form1::reportUnresolved(const std::string& name) {
    // A blank text names nothing, so nothing failed to resolve.
    if (report_ && name.find_first_not_of(' ') != std::string::npos) {
        report_(Words{texts::kCannotResolve, {printableExcerpt(name)}}.render());
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
        tell(recorded_.value_or(Words{texts::kAnswers, {shown}}));
        return;
    }
    controls_.setFillColor(Control::Shape1, kRed);
    // No target is no attack: nothing is logged or flushed, and the reason is told once for the
    // run of probes of the same text.
    if (const Words why = noTarget(typed, ipAddress); !why.empty()) {
        if (toldNoTarget_ != typed && report_) {
            report_(why.render());
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
    followAnnouncements();
    tell(recorded_.value_or(Words{texts::kDoesNotAnswer, {shown}}));
}

void Form1::Command2_Click() {
    repair_.run();
}

void Form1::qb_Click() {
    const std::string mode = controls_.caption(Control::qb);
    if (mode == say({texts::kSwitchToAddress})) {
        controls_.setCaption(Control::qb, say({texts::kSwitchToHostName}));
        controls_.setVisible(Control::zdip, true);
        controls_.setVisible(Control::zdym, false);
    } else if (mode == say({texts::kSwitchToHostName})) {
        controls_.setCaption(Control::qb, say({texts::kSwitchToAddress}));
        controls_.setVisible(Control::zdym, true);
        controls_.setVisible(Control::zdip, false);
    }
}

void Form1::cmdFormat_Click() {
    convert();
}

void Form1::convert() {
    if (!cping_) {
        return;
    }
    if (offload_.busy()) {
        convertWaiting_ = true;
        return;
    }
    offload_.start([this, client = cping_.get(),
                    name = controls_.text(Control::txtConvert)]() -> Offload::Continuation {
        std::string address = client->funcGetIPFromHostName(name);
        return [this, name, address = std::move(address)] {
            controls_.setText(Control::txtPing, address);
            if (address.empty()) {
                reportUnresolved(name);
            }
            runWaiting();
        };
    });
}

bool Form1::launch(const std::string& target, bool start) {
    const auto form = targetForm(target);
    if (form == TargetForm::none) {
        const Words why = target.find_first_not_of(" \t") == std::string::npos
                              ? Words{texts::kEmptyBox}
                              : Words{texts::kNotAnAddress, {printableExcerpt(target)}};
        if (report_) {
            report_(why.render());
        }
        tell(why);
        return false;
    }
    if ((form == TargetForm::hostName) != controls_.visible(Control::zdym)) {
        qb_Click();
    }
    controls_.setText(form == TargetForm::hostName ? Control::txtConvert : Control::txtPing,
                      target);
    if (start && controls_.caption(Control::zx) == say({texts::kStart})) {
        zx_Click();
    }
    return start;
}

void Form1::Command1_Click() {
    probeTarget();
}

} // namespace tarnvik

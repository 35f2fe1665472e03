// SPDX-License-Identifier: MIT
// The window's handlers on a binding of plain records, with no toolkit at all: what each handler
// asks of the controls, and in which order.
#include "fake_platform.h"
#include "form1.h"
#include "form1_access.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace tarnvik {
namespace {

std::string call(Control control, const std::string& what) {
    return std::to_string(static_cast<int>(control)) + " " + what;
}

// Answers from `texts` and `shown`, and records every change in `calls`.
struct RecordingControls final : Controls {
    std::string caption(Control c) const override { return texts.at(c); }
    void setCaption(Control c, const std::string& v) override {
        note(c, "text " + v), texts[c] = v;
    }
    std::string text(Control c) const override { return texts.at(c); }
    void setText(Control c, const std::string& v) override { setCaption(c, v); }
    bool visible(Control c) const override { return shown.at(c); }
    void setVisible(Control c, bool v) override { note(c, v ? "show" : "hide"), shown[c] = v; }
    void setEnabled(Control c, bool v) override { note(c, v ? "enable" : "disable"); }
    void clear(Control c) override { note(c, "clear"); }
    void addItem(Control c, const std::string& v) override { note(c, "add " + v); }
    void setFillColor(Control c, std::uint32_t v) override { note(c, "fill " + std::to_string(v)); }
    void setToolTip(Control c, const std::string& v) override { tips[c] = v; }
    void note(Control c, const std::string& what) { calls.push_back(call(c, what)); }

    std::map<Control, std::string> texts{{Control::zx, texts::kStart},
                                         {Control::qb, texts::kSwitchToHostName},
                                         {Control::txtConvert, "www.example.net"}};
    std::map<Control, bool> shown{{Control::zdym, false}};
    std::vector<std::string> calls;
    std::map<Control, std::string> tips;
};

TEST(Form1Logic, HandlersDriveTheControlsInTheOrderTheWindowShowsIt) {
    testing::TempDir dir;
    testing::RecordingRepair recorder(dir.path());
    RecordingControls controls;
    auto log = std::make_shared<testing::PlatformLog>();
    auto repair = recorder.settings();
    repair.dateTime = [&, stamp = repair.dateTime] {
        return controls.note(Control::Command2, "repair"), stamp();
    };
    Form1 form(
        controls,
        [&] {
            auto platform = std::make_unique<testing::FakePlatform>(log);
            platform->hosts = {{"www.example.net", ipv4FromOctets(10, 0, 0, 1)}};
            platform->echo = testing::EchoScript{0, ip_status::timedOut, 0};
            return std::make_unique<cping>(std::move(platform));
        },
        repair);
    form.Form_Load();
    form.qb_Click();
    form.zx_Click();
    Form1TestAccess::settle(form);
    Form1TestAccess::tick(form);
    EXPECT_EQ(
        controls.calls,
        (std::vector<std::string>{
            call(Control::qb, std::string("text ") + texts::kSwitchToAddress),
            call(Control::zdym, "show"), call(Control::zdip, "hide"),
            call(Control::zx, std::string("text ") + texts::kStop), call(Control::qb, "disable"),
            call(Control::Timer1, "enable"), call(Control::txtPing, "text 10.0.0.1"),
            call(Control::List1, "clear"), call(Control::List1, "add 10.0.0.1\tfailure\t0"),
            call(Control::Shape1, "fill 255"), call(Control::Command2, "repair")}));
    EXPECT_EQ(recorder.logLines(), 1);

    // Without its echo client the window probes and converts nothing.
    form.Form_QueryUnload();
    controls.calls.clear();
    form.Command1_Click();
    form.cmdFormat_Click();
    EXPECT_TRUE(controls.calls.empty());
    EXPECT_EQ(log->echoes.size(), 1u);
}

// An unattended start: the text goes to the box of its mode, and monitoring starts as a click
// would; no target is said, and nothing starts.
TEST(Form1Logic, LaunchFillsTheBoxOfTheTargetsModeAndStarts) {
    struct Case {
        const char* target;
        bool start;
        Control box;
        bool byName, running;
        const char* said;
    };
    const Case cases[] = {
        {"10.0.0.1", true, Control::txtPing, false, true, ""},
        {"www.example.net", true, Control::txtConvert, true, true, ""},
        {"gateway.lan", false, Control::txtConvert, true, false, ""},
        {"1.2.3", true, Control::txtPing, false, false,
         "not an IPv4 address, nothing probed: 1.2.3"},
        {" ", true, Control::txtPing, false, false, "nothing to probe: the address box is empty"},
    };
    for (const auto& c : cases) {
        testing::TempDir dir;
        testing::RecordingRepair recorder(dir.path());
        RecordingControls controls;
        Form1 form(
            controls,
            [&] {
                auto platform = std::make_unique<testing::FakePlatform>(
                    std::make_shared<testing::PlatformLog>());
                platform->hosts = {{"www.example.net", ipv4FromOctets(10, 0, 0, 1)}};
                return std::make_unique<cping>(std::move(platform));
            },
            recorder.settings());
        form.Form_Load();
        EXPECT_EQ(form.launch(c.target, c.start), c.running && *c.said == '\0') << c.target;
        Form1TestAccess::settle(form);
        EXPECT_EQ(controls.shown[Control::zdym], c.byName) << c.target;
        EXPECT_EQ(controls.texts[Control::zx], c.running ? texts::kStop : texts::kStart)
            << c.target;
        if (*c.said == '\0') {
            EXPECT_EQ(controls.texts[c.box], c.target);
            EXPECT_TRUE(recorder.reports.empty()) << c.target;
        } else {
            EXPECT_EQ(recorder.reports, std::vector<std::string>{c.said});
            EXPECT_NE(controls.tips.at(Control::Shape1).find(c.said), std::string::npos);
        }
        if (c.byName && c.running) {
            EXPECT_EQ(controls.texts[Control::txtPing], "10.0.0.1") << "the name was looked up";
        }
        form.Form_QueryUnload();
    }
}

// The lamp's tip says what cannot work here, then the state in one sentence: what was probed,
// the outcome, the evidence's verdict; and after Stop that what it shows is the last state.
TEST(Form1Logic, LampTipTellsTheStateInOneSentence) {
    testing::TempDir dir;
    testing::RecordingRepair recorder(dir.path());
    RecordingControls controls;
    controls.texts[Control::txtPing] = "10.0.0.1";
    auto repair = recorder.settings();
    repair.problems = {{"cannot open an ICMP socket; as root: sysctl ..."}};
    Form1 form(controls, nullptr, repair);
    form.Form_Load();
    const auto tip = [&] { return controls.tips.at(Control::Shape1); };
    EXPECT_EQ(tip(), "cannot open an ICMP socket; as root: sysctl ...\nnot monitoring");
    form.zx_Click();
    const std::pair<const char*, const char*> outcomes[] = {
        {"success", "10.0.0.1 answers"}, {"failure", "10.0.0.1 does not answer"}};
    for (const auto& [status, said] : outcomes) {
        Form1TestAccess::outcome(form, "10.0.0.1", status, 0);
        EXPECT_EQ(tip(), std::string("cannot open an ICMP socket; as root: sysctl ...\n") + said);
    }
    Form1TestAccess::outcome(form, "", "failure", 0);
    EXPECT_NE(tip().find("nothing to probe: the address box is empty"), std::string::npos);
    form.zx_Click();
    EXPECT_NE(tip().find("stopped; last: nothing to probe"), std::string::npos) << tip();

    const Ipv4Value hop = ipv4FromOctets(198, 18, 0, 2);
    const NeighbourReading genuine{.nextHop = hop,
                                   .interfaceIndex = 2,
                                   .linkAddress = "02:00:00:00:00:02",
                                   .state = "REACHABLE"};
    auto forged = genuine;
    forged.linkAddress = "02:00:00:00:00:03";
    auto router = genuine;
    router.ipv6 = "fe80::1%eth0";
    router.linkAddress = "02:00:00:00:00:0a";
    auto routerNow = router;
    routerNow.linkAddress = forged.linkAddress;
    const std::pair<EvidenceRecord, const char*> records[] = {
        {{"198.18.0.2", genuine, forged, Verdict::changed, "198.18.0.3"},
         "ARP attack: 198.18.0.2 changed from 02:00:00:00:00:02 to 02:00:00:00:00:03, held by "
         "198.18.0.3"},
        {{"198.18.0.2", genuine, genuine, Verdict::unchanged, std::nullopt},
         "198.18.0.2 does not answer; its next hop 198.18.0.2 kept its address: not an ARP "
         "attack"},
        {{"198.18.0.2", genuine, forged, Verdict::moved, std::nullopt},
         "next hop 198.18.0.2 replaced: 02:00:00:00:00:03 is taken as genuine from now on"},
        {{"198.18.0.2", router, routerNow, Verdict::changed, std::nullopt, true},
         "IPv6 attack: router fe80::1%eth0 changed from 02:00:00:00:00:0a to 02:00:00:00:00:03, "
         "and its default route was lost with it"},
        {{"198.18.0.2", router, router, Verdict::routerGone, std::nullopt},
         "IPv6 router fe80::1%eth0 left by itself (its default route went): no attack"},
    };
    for (const auto& [record, said] : records) {
        EXPECT_EQ(stateOf(record).render(), said);
    }
}

} // namespace
} // namespace tarnvik

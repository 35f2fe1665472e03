// SPDX-License-Identifier: MIT
// The window's handlers on a binding of plain records, with no toolkit at all: what each handler
// asks of the controls, and in which order.
#include "fake_platform.h"
#include "form1.h"
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
    void note(Control c, const std::string& what) { calls.push_back(call(c, what)); }

    std::map<Control, std::string> texts{{Control::zx, captions::kStart},
                                         {Control::qb, captions::kSwitchToHostName},
                                         {Control::txtConvert, "www.example.net"}};
    std::map<Control, bool> shown{{Control::zdym, false}};
    std::vector<std::string> calls;
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
    form.Timer1_Timer();
    EXPECT_EQ(
        controls.calls,
        (std::vector<std::string>{
            call(Control::qb, std::string("text ") + captions::kSwitchToAddress),
            call(Control::zdym, "show"), call(Control::zdip, "hide"),
            call(Control::zx, std::string("text ") + captions::kStop), call(Control::qb, "disable"),
            call(Control::txtPing, "text 10.0.0.1"), call(Control::Timer1, "enable"),
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

} // namespace
} // namespace tarnvik

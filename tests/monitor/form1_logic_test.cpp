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

using testing::EchoScript;
using testing::FakePlatform;
using testing::PlatformLog;

struct ControlState {
    std::string caption, text;
    bool visible = true, enabled = true;
    std::vector<std::string> lines;
    std::uint32_t fill = 0;
};

// Every operation the handlers call, recorded in `calls` and kept in `state`.
class RecordingControls final : public Controls {
  public:
    std::string caption(Control c) const override { return state.at(c).caption; }
    void setCaption(Control c, const std::string& v) override {
        note(c, "caption " + v).caption = v;
    }
    std::string text(Control c) const override { return state.at(c).text; }
    void setText(Control c, const std::string& v) override { note(c, "text " + v).text = v; }
    bool visible(Control c) const override { return state.at(c).visible; }
    void setVisible(Control c, bool v) override { note(c, v ? "show" : "hide").visible = v; }
    void setEnabled(Control c, bool v) override { note(c, v ? "enable" : "disable").enabled = v; }
    void clear(Control c) override { note(c, "clear").lines.clear(); }
    void addItem(Control c, const std::string& v) override {
        note(c, "add " + v).lines.push_back(v);
    }
    void setFillColor(Control c, std::uint32_t v) override {
        note(c, "fill " + std::to_string(v)).fill = v;
    }

    ControlState& note(Control c, const std::string& what) {
        calls.push_back(std::to_string(static_cast<int>(c)) + " " + what);
        return state[c];
    }
    std::string call(Control c, const std::string& what) const {
        return std::to_string(static_cast<int>(c)) + " " + what;
    }

    mutable std::map<Control, ControlState> state{
        {Control::zx, {captions::kStart, "", true, true, {}, 0}},
        {Control::qb, {captions::kSwitchToHostName, "", true, true, {}, 0}},
        {Control::zdym, {"", "", false, true, {}, 0}},
        {Control::Timer1, {"", "", true, false, {}, 0}}};
    std::vector<std::string> calls;
};

TEST(Form1Logic, HandlersDriveTheControlsInTheOrderTheWindowShowsIt) {
    testing::TempDir dir;
    testing::RecordingRepair recorder(dir.path());
    RecordingControls controls;
    auto log = std::make_shared<PlatformLog>();
    auto repair = recorder.settings();
    const auto dateTime = repair.dateTime;
    repair.dateTime = [&] { return controls.note(Control::Command2, "repair"), dateTime(); };
    Form1 form(
        controls,
        [&] {
            auto platform = std::make_unique<FakePlatform>(log);
            platform->hosts = {{"www.example.net", ipv4FromOctets(10, 0, 0, 1)}};
            platform->echo = EchoScript{0, ip_status::timedOut, 0};
            return std::make_unique<cping>(std::move(platform));
        },
        repair);
    form.Form_Load();
    EXPECT_TRUE(controls.calls.empty()) << "loading changes no control";

    form.qb_Click();
    controls.state[Control::txtConvert].text = "www.example.net";
    form.zx_Click();
    const std::vector<std::string> started{
        controls.call(Control::qb, std::string("caption ") + captions::kSwitchToAddress),
        controls.call(Control::zdym, "show"),
        controls.call(Control::zdip, "hide"),
        controls.call(Control::zx, std::string("caption ") + captions::kStop),
        controls.call(Control::qb, "disable"),
        controls.call(Control::txtPing, "text 10.0.0.1"),
        controls.call(Control::Timer1, "enable")};
    EXPECT_EQ(controls.calls, started);

    controls.calls.clear();
    form.Timer1_Timer();
    EXPECT_EQ(controls.calls,
              (std::vector<std::string>{controls.call(Control::List1, "clear"),
                                        controls.call(Control::List1, "add 10.0.0.1\tfailure\t0"),
                                        controls.call(Control::Shape1, "fill 255"),
                                        controls.call(Control::Command2, "repair")}));
    EXPECT_EQ(recorder.logLines(), 1);

    // Without its echo client the window probes and converts nothing.
    form.Form_QueryUnload();
    controls.calls.clear();
    form.Command1_Click();
    form.cmdFormat_Click();
    form.Timer1_Timer();
    EXPECT_EQ(controls.calls, std::vector<std::string>{controls.call(Control::List1, "clear")});
    EXPECT_EQ(log->echoes.size(), 1u);
}

} // namespace
} // namespace tarnvik

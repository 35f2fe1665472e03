// SPDX-License-Identifier: MIT
// The program's one window, as logic: its handlers, named after their control and event, drive
// the controls through the operations of controls.h and know no toolkit. Run state and target
// mode live in the captions (read in the language shown) and frame visibility, not in variables. A
// toolkit binding creates the controls and routes their events here.
#pragma once

#include "controls.h"
#include "cping.h"
#include "offload.h"
#include "repair.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace tarnvik {

// The title and the text boxes' tip, the same in every language; and the captions as the window
// shows them where it speaks Chinese (texts.h has them in English, the translations give these).
namespace captions {
inline constexpr const char* kForm1 = "Tarnvik";
inline constexpr const char* kZdip = "确保到指定IP地址畅通";
inline constexpr const char* kZdym = "确保到指定域名畅通";
inline constexpr const char* kLabel2 = "状态指示";
inline constexpr const char* kLabel3 = "绿色代表畅通，红色代表故障";
inline constexpr const char* kStart = "开始运行";
inline constexpr const char* kStop = "停止运行";
inline constexpr const char* kSwitchToHostName = "切换 - > 确保到指定域名畅通";
inline constexpr const char* kSwitchToAddress = "切换 - > 确保到指定IP畅通";
inline constexpr const char* kCmdFormat = "转换WWW地址到IP(&C)";
inline constexpr const char* kCommand1 = "&Ping";
inline constexpr const char* kCommand2 = "修复";
inline constexpr const char* kTargetTip =
    "you may enter an ip address or a string address in either \"www.example.com\" or "
    "http://www.example.com\" OR \"http://example.com\" format";
} // namespace captions

inline constexpr std::uint32_t kGreen = 65280;
inline constexpr std::uint32_t kRed = 255;
inline constexpr int kTimerInterval = 1000;
inline constexpr int kClientWidthTwips = 3375;
inline constexpr int kClientHeightTwips = 2385;

// Where each control stands, in twips within its container (the window, or for a text box its
// frame), as every binding lays it out. Labels size themselves to their text from here.
struct TwipsRect {
    int left, top, width, height;
};
TwipsRect twipsGeometry(Control control);

// The focus order of the Tab key; frames, labels, the lamp and the timer take no focus.
inline constexpr Control kTabOrder[] = {Control::Command1, Control::cmdFormat, Control::List1,
                                        Control::Command2, Control::txtPing,   Control::txtConvert,
                                        Control::qb,       Control::zx};

class Form1TestAccess;

class Form1 {
  public:
    using EchoClientFactory = std::function<std::unique_ptr<cping>()>;

    // `wake` is called off the window's thread when a probe's or a lookup's outcome waits: the
    // binding then calls outcomeReady() on the window's thread.
    Form1(Controls& controls, EchoClientFactory makeEchoClient, RepairSettings repair,
          std::function<void()> wake = nullptr);

    // The events a binding routes here.
    void Form_Load();
    void Form_QueryUnload();
    void zx_Click();
    void Timer1_Timer();
    // While the next hop is told our address (an attack goes on).
    void Timer2_Timer();
    void Command2_Click();
    void qb_Click();
    void cmdFormat_Click();
    void Command1_Click();
    // The system's notifications of neighbour entries (where it gives them): the binding
    // watches the descriptor on its event loop and says when it is readable.
    int neighbourEventDescriptor() const { return repair_.neighbourEventDescriptor(); }
    void neighbourEventsReady();
    void outcomeReady();
    // An unattended start (--start, or the configuration): the text goes in the box of the mode
    // its form asks for, and monitoring starts as the click would, unless `start` is false. A
    // text that is no target is said, and nothing starts. False when it did not start.
    bool launch(const std::string& target, bool start);

  private:
    friend class Form1TestAccess;

    void cping_PingReturn(std::string& ipAddress, std::string& successStatus,
                          std::int32_t& roundTripMilliseconds);
    // The probe of Command1 and of every tick: a copy of the box's text, without the blanks a
    // paste brings at either end, goes to Ping on the worker; its outcome comes back to
    // cping_PingReturn on the window's thread. One probe or lookup is out at a time: what asks
    // for another meanwhile waits for it (a tick at most once).
    void probeTarget();
    void convert();
    void runWaiting();
    // The announcement timer runs exactly while the repair announces.
    void followAnnouncements();
    std::string typedTarget() const;
    void reportUnresolved(const std::string& name);
    // Why a failed probe of `typed` (Ping made it `probed`) had no target at all, so that it is
    // no attack: no address, or a name that has not resolved once in this run. Empty when it had
    // one.
    Words noTarget(const std::string& typed, const std::string& probed) const;
    // The lamp's tip: what cannot work here, then the state in one sentence.
    void tell(const Words& state);
    // In the language the window shows.
    std::string say(const Words& words) const { return words.render(repair_.translate()); }

    Controls& controls_;
    EchoClientFactory makeEchoClient_;
    std::unique_ptr<cping> cping_;
    // Used by the worker alone while a job is out.
    Offload offload_;
    // Bumped at Stop and at close: the outcome of a job started before is dropped.
    unsigned generation_ = 0;
    bool tickWaiting_ = false;
    bool probeWaiting_ = false;
    bool convertWaiting_ = false;
    bool announcing_ = false;
    std::function<void(const std::string&)> report_;
    RepairAction repair_;
    // The text of the probe that is out, as typed.
    std::string probing_;
    // Web-style names that have resolved in this run: their failure is an echo's.
    std::set<std::string> resolvedNames_;
    // The unreadable text of the last probes, told once for the run of them.
    std::optional<std::string> toldNoTarget_;
    // The state the lamp's tip says, and what the evidence said during the probe that is out.
    std::string state_;
    std::optional<Words> recorded_;
};

// One sentence for the person at the desk: what an evidence record says.
Words stateOf(const EvidenceRecord& record);

} // namespace tarnvik

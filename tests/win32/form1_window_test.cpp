// SPDX-License-Identifier: MIT
// The Win32 window under Wine on Xvfb, in this process: its geometry, captions, focus, keys and
// lamp as the screen shows them, and the repair's log bytes.
#include "fake_platform.h"
#include "form1_access.h"
#include "form1_window.h"
#include "language.h"
#include "system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace tarnvik::win32 {
namespace {

namespace fs = std::filesystem;
using testing::EchoScript;
using testing::FakePlatform;
using testing::PlatformLog;

// The notification area as the window uses it, one line per call.
class FakeTray final : public TrayIcon {
  public:
    explicit FakeTray(std::shared_ptr<std::vector<std::string>> calls) : calls_(std::move(calls)) {}
    void add(HWND, const std::wstring& tip) override { record("add " + narrow(tip)); }
    void setTip(const std::wstring& tip) override { record("tip " + narrow(tip)); }
    void balloon(const std::wstring& title, const std::wstring& text) override {
        record("balloon " + narrow(title) + ": " + narrow(text));
    }
    void remove() override { record("remove"); }

  private:
    void record(std::string call) { calls_->push_back(std::move(call)); }
    std::shared_ptr<std::vector<std::string>> calls_;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Win32WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / (std::string("tarnvik-") + test->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::copy_file(COMMAND_DOUBLE, dir / "arp.exe");
        RepairSettings repair{dir,
                              {os::pathText(dir / "arp.exe"), "-d"},
                              [] {
                                  return generalDateTime({2026, 12, 1, 7, 9, 5, 3, 0}, L"zh-CN");
                              },
                              [this](const std::string& line) { reports.push_back(line); }};
        window = std::make_unique<Form1Window>(
            [this] {
                auto platform = std::make_unique<FakePlatform>(log);
                platform->hosts = {{"www.example.net", ipv4FromOctets(10, 0, 0, 1)}};
                platform->echo = EchoScript{1, 0, 3};
                return std::make_unique<cping>(std::move(platform));
            },
            repair, std::make_unique<FakeTray>(trayCalls));
        // Under Wine the first window of a session in another locale can fail for a few seconds
        // while the session settles (seen once in CI, three runs in a row, then never again):
        // tried again for up to 10 s, and what the system said is shown.
        bool created = window->create(SW_SHOWNORMAL);
        const DWORD firstError = created ? 0 : ::GetLastError();
        for (int tries = 0; !created && tries < 20; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            created = window->create(SW_SHOWNORMAL);
        }
        ASSERT_TRUE(created) << "the window was not made: error " << firstError;
        if (firstError != 0) {
            std::printf("[ note     ] the window was made only on a later try (error %lu)\n",
                        static_cast<unsigned long>(firstError));
        }
        ::SetForegroundWindow(window->handle());
        pump();
    }

    void pump() {
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT && !window->translate(message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
    }
    // A key as the message loop receives it for the control with the focus.
    void key(UINT message, WPARAM code, LPARAM flags = 0) {
        MSG sent{
            ::GetFocus() != nullptr ? ::GetFocus() : window->handle(), message, code, flags, 0, {}};
        if (!window->translate(sent)) {
            ::DispatchMessageW(&sent);
        }
        pump();
    }
    // The probes and lookups that are out, and what their outcomes do.
    void settle() {
        Form1TestAccess::settle(*window);
        pump();
    }
    HWND control(Control c) const { return window->control(c); }
    COLORREF lampCentre() {
        ::RedrawWindow(control(Control::Shape1), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        const HDC dc = ::GetDC(control(Control::Shape1));
        const COLORREF pixel = ::GetPixel(dc, 8, 8);
        ::ReleaseDC(control(Control::Shape1), dc);
        return pixel;
    }

    fs::path dir;
    std::shared_ptr<PlatformLog> log = std::make_shared<PlatformLog>();
    std::vector<std::string> reports;
    std::shared_ptr<std::vector<std::string>> trayCalls =
        std::make_shared<std::vector<std::string>>();
    std::unique_ptr<Form1Window> window;
};

TEST_F(Win32WindowTest, OpensCentredAndFixedWithEveryCaptionByteForByte) {
    ASSERT_EQ(window->dpi(), 96u);
    RECT client{};
    ::GetClientRect(window->handle(), &client);
    EXPECT_EQ(client.right, 225);
    EXPECT_EQ(client.bottom, 159);
    const LONG style = ::GetWindowLongW(window->handle(), GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_NE(style & WS_SYSMENU, 0);
    RECT outer{};
    ::GetWindowRect(window->handle(), &outer);
    MONITORINFO monitor{sizeof monitor, {}, {}, 0};
    ::GetMonitorInfoW(::MonitorFromWindow(window->handle(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    EXPECT_LE(std::abs((outer.left + outer.right) - (monitor.rcWork.left + monitor.rcWork.right)),
              2);
    EXPECT_LE(std::abs((outer.top + outer.bottom) - (monitor.rcWork.top + monitor.rcWork.bottom)),
              2);

    auto text = [](HWND item) {
        wchar_t buffer[256] = {};
        return narrow(std::wstring(buffer, ::GetWindowTextW(item, buffer, 256)));
    };
    EXPECT_EQ(text(window->handle()), "Tarnvik");
    // In the user's interface language (the tests run once in English, once in Chinese).
    const std::pair<Control, const char*> captions[] = {{Control::zdip, texts::kZdip},
                                                        {Control::zdym, texts::kZdym},
                                                        {Control::Label2, texts::kLabel2},
                                                        {Control::Label3, texts::kLabel3},
                                                        {Control::zx, texts::kStart},
                                                        {Control::qb, texts::kSwitchToHostName},
                                                        {Control::cmdFormat, texts::kCmdFormat},
                                                        {Control::Command1, texts::kCommand1},
                                                        {Control::Command2, texts::kCommand2},
                                                        {Control::txtPing, ""}};
    const Translator shown = stringTableTranslator();
    for (const auto& [c, caption] : captions) {
        EXPECT_EQ(text(control(c)), Words{caption}.render(shown));
    }
    EXPECT_FALSE(::IsWindowVisible(control(Control::txtConvert)));
    for (const Control c :
         {Control::List1, Control::cmdFormat, Control::Command1, Control::Command2}) {
        RECT at{};
        ::GetWindowRect(control(c), &at);
        ::MapWindowPoints(nullptr, window->handle(), reinterpret_cast<POINT*>(&at), 2);
        EXPECT_TRUE(::IsWindowVisible(control(c)) && ::IsWindowEnabled(control(c)));
        EXPECT_TRUE(at.left >= client.right || at.top >= client.bottom) << "out of view";
    }
}

TEST_F(Win32WindowTest, FocusStartsOnThePingButtonAndTheKeysReachEveryButton) {
    EXPECT_EQ(::GetFocus(), control(Control::Command1));
    for (const Control next : {Control::cmdFormat, Control::List1, Control::Command2,
                               Control::txtPing, Control::qb, Control::zx, Control::Command1}) {
        key(WM_KEYDOWN, VK_TAB);
        EXPECT_EQ(::GetFocus(), control(next)) << static_cast<int>(next);
    }
    key(WM_KEYDOWN, VK_SPACE);
    key(WM_KEYUP, VK_SPACE, 0xC0000000);
    settle();
    EXPECT_EQ(log->echoes.size(), 1u) << "Space presses the out-of-view Ping button";

    // Alt+C converts the name, Alt+P probes its address: one more echo and list line.
    ::SetWindowTextW(control(Control::txtConvert), L"www.example.net");
    key(WM_SYSCHAR, 'c', 1 << 29);
    key(WM_SYSCHAR, 'p', 1 << 29);
    settle();
    ASSERT_EQ(log->echoes.size(), 2u);
    EXPECT_EQ(log->echoes[1].destination, ipv4FromOctets(10, 0, 0, 1));
    EXPECT_EQ(::SendMessageW(control(Control::List1), LB_GETCOUNT, 0, 0), 2);
}

TEST_F(Win32WindowTest, LampShowsItsColourAndAFailureLogsGbkAndStartsTheCommand) {
    EXPECT_EQ(lampCentre(), ::GetSysColor(COLOR_WINDOW));
    Form1TestAccess::outcome(*window, "10.0.0.1", "success", 0);
    EXPECT_EQ(lampCentre(), RGB(0, 255, 0));
    Form1TestAccess::outcome(*window, "10.0.0.1", "failure", 0);
    EXPECT_EQ(lampCentre(), RGB(255, 0, 0));
    EXPECT_EQ(readFile(dir / "arp_log.log"), "\xb7\xa2\xc9\xfa"
                                             "arp"
                                             "\xb9\xa5\xbb\xf7\xb5\xc4\xca\xb1\xbc\xe4\xa3\xba"
                                             "2026/12/7 09:05:03\r\n");
    EXPECT_TRUE(reports.empty()) << "the command started";
}

// The band between the frame and its text box is the window's colour, not whatever was there.
TEST_F(Win32WindowTest, FrameInteriorIsPaintedInTheWindowsColour) {
    const HWND frame = control(Control::zdip);
    ::RedrawWindow(window->handle(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT box{};
    ::GetWindowRect(control(Control::txtPing), &box);
    POINT below{box.left + 20, box.bottom + 4};
    ::ScreenToClient(frame, &below);
    const HDC dc = ::GetDC(frame);
    const COLORREF pixel = ::GetPixel(dc, below.x, below.y);
    ::ReleaseDC(frame, dc);
    EXPECT_EQ(pixel, ::GetSysColor(COLOR_BTNFACE));
}

// A GBK log carries '?' for a character GBK lacks, never a look-alike.
TEST_F(Win32WindowTest, GbkHasNoBestFitLookAlikes) {
    EXPECT_EQ(os::toGbk("\xc3\x80\xe2\x84\xa2"), "??"); // U+00C0, U+2122
}

TEST_F(Win32WindowTest, TrayIconWhileMonitoringWithTheLampInItsTipAndOneBalloonPerEpisode) {
    const auto click = [&](Control button) {
        ::SendMessageW(window->handle(), WM_COMMAND,
                       MAKEWPARAM(::GetDlgCtrlID(control(button)), BN_CLICKED),
                       reinterpret_cast<LPARAM>(control(button)));
    };
    EXPECT_TRUE(trayCalls->empty()) << "no icon while stopped";
    click(Control::zx);
    Form1TestAccess::outcome(*window, "10.0.0.1", "success", 0);
    Form1TestAccess::outcome(*window, "10.0.0.1", "failure", 0);
    Form1TestAccess::outcome(*window, "10.0.0.1", "failure", 0);
    Form1TestAccess::outcome(*window, "10.0.0.1", "success", 0);
    Form1TestAccess::outcome(*window, "10.0.0.1", "success", 0);
    click(Control::zx);
    const auto say = [shown = stringTableTranslator()](const char* english,
                                                       std::vector<std::string> values = {}) {
        return Words{english, std::move(values)}.render(shown);
    };
    const std::vector<std::string> expected{"add " + say(texts::kTrayMonitoring),
                                            "tip " + say(texts::kTrayGreen),
                                            "tip " + say(texts::kTrayRed),
                                            "balloon " + say(texts::kDoesNotAnswer, {"10.0.0.1"}) +
                                                ": " + say(texts::kStoppedAnswering),
                                            "tip " + say(texts::kTrayGreen),
                                            "balloon " + say(texts::kAnswersAgain, {"10.0.0.1"}) +
                                                ": " + say(texts::kAnsweredAgain),
                                            "remove"};
    EXPECT_EQ(*trayCalls, expected);
    click(Control::zx);
    window.reset();
    EXPECT_EQ(trayCalls->back(), "remove") << "the icon goes with the window";
}

// Every text of the string tables in both languages; the captions' Chinese is the window's own.
TEST(StringTables, EveryTextHasItsChineseAndTheCaptionsAreTheWindowsOwn) {
    const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const LANGID chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    ASSERT_GE(stringTableSize(), 40);
    for (int n = 0; n < stringTableSize(); ++n) {
        EXPECT_FALSE(stringTableText(n, english).empty()) << n;
        EXPECT_FALSE(stringTableText(n, chinese).empty()) << stringTableText(n, english);
    }
    const Translator toChinese = stringTableTranslator(chinese);
    const std::pair<const char*, const char*> captions[] = {
        {texts::kZdip, captions::kZdip},
        {texts::kZdym, captions::kZdym},
        {texts::kLabel2, captions::kLabel2},
        {texts::kLabel3, captions::kLabel3},
        {texts::kStart, captions::kStart},
        {texts::kStop, captions::kStop},
        {texts::kSwitchToHostName, captions::kSwitchToHostName},
        {texts::kSwitchToAddress, captions::kSwitchToAddress},
        {texts::kCmdFormat, captions::kCmdFormat},
        {texts::kCommand2, captions::kCommand2}};
    for (const auto& [source, own] : captions) {
        EXPECT_EQ(toChinese(source), own) << source;
    }
    EXPECT_EQ(stringTableTranslator(english), nullptr) << "English is the texts themselves";
}

} // namespace
} // namespace tarnvik::win32

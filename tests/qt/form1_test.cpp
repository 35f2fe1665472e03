// SPDX-License-Identifier: MIT
#include "fake_platform.h"
#include "form1_access.h"
#include "form1_window.h"
#include "icon.h"
#include "test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace tarnvik {

namespace {

using testing::EchoScript;
using testing::FakePlatform;
using testing::PlatformLog;
using testing::RecordingRepair;
using testing::TempDir;
using testing::waitUntil;

QString q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A text as the window shows it in the language these tests run in.
QString shown(const char* english) {
    return QCoreApplication::translate("Tarnvik", english);
}

class Form1Test : public ::testing::Test {
  protected:
    Form1Test() {
        form = std::make_unique<qt::Form1Window>(
            [this] {
                auto owned = std::make_unique<FakePlatform>(log);
                platform = owned.get();
                platform->hosts = {{"www.example.net", ipv4FromOctets(10, 0, 0, 1)},
                                   {"other.example", ipv4FromOctets(10, 0, 0, 7)}};
                platform->echo = EchoScript{1, 0, 3};
                return std::make_unique<cping>(std::move(owned));
            },
            recorder.settings());
    }

    template <typename T> T* control(const char* name) {
        auto* found = form->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QPushButton* button(const char* name) { return control<QPushButton>(name); }
    QLineEdit* box(const char* name) { return control<QLineEdit>(name); }
    QGroupBox* frame(const char* name) { return control<QGroupBox>(name); }
    QTimer* timer() { return control<QTimer>("Timer1"); }
    qt::Lamp* lamp() { return control<qt::Lamp>("Shape1"); }
    QStringList lines() {
        QStringList all;
        auto* list = control<QListWidget>("List1");
        for (int i = 0; i < list->count(); ++i) {
            all << list->item(i)->text();
        }
        return all;
    }
    void tick() { Form1TestAccess::tick(*form); }
    // A click, and the probe or lookup it starts handled.
    void click(const char* name) {
        button(name)->click();
        Form1TestAccess::settle(*form);
    }
    void showActive() {
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    std::vector<Ipv4Value> probed() const {
        std::vector<Ipv4Value> all;
        for (const auto& echo : log->echoes) {
            all.push_back(echo.destination);
        }
        return all;
    }

    TempDir dir;
    RecordingRepair recorder{dir.path()};
    std::shared_ptr<PlatformLog> log = std::make_shared<PlatformLog>();
    FakePlatform* platform = nullptr; // owned by the window's echo client
    std::unique_ptr<qt::Form1Window> form;
};

TEST_F(Form1Test, OpensStoppedInAddressModeWithEveryControlAsDrawn) {
    EXPECT_EQ(form->windowTitle(), "Tarnvik");
    EXPECT_EQ(frame("zdip")->title(), shown(texts::kZdip));
    EXPECT_EQ(frame("zdym")->title(), shown(texts::kZdym));
    EXPECT_FALSE(frame("zdip")->isHidden());
    EXPECT_TRUE(frame("zdym")->isHidden());
    EXPECT_EQ(box("txtPing")->parentWidget(), frame("zdip"));
    EXPECT_EQ(box("txtConvert")->parentWidget(), frame("zdym"));
    EXPECT_EQ(button("zx")->text(), shown(texts::kStart));
    EXPECT_EQ(button("qb")->text(), shown(texts::kSwitchToHostName));
    EXPECT_EQ(button("cmdFormat")->text(), shown(texts::kCmdFormat));
    EXPECT_EQ(button("Command1")->text(), "&Ping");
    EXPECT_EQ(button("Command2")->text(), shown(texts::kCommand2));
    EXPECT_EQ(control<QLabel>("Label2")->text(), shown(texts::kLabel2));
    EXPECT_EQ(control<QLabel>("Label3")->text(), shown(texts::kLabel3));
    const QString tip = q("you may enter an ip address or a string address in either "
                          "\"www.example.com\" or http://www.example.com\" OR "
                          "\"http://example.com\" format");
    EXPECT_EQ(box("txtPing")->toolTip(), tip);
    EXPECT_EQ(box("txtConvert")->toolTip(), tip);
    EXPECT_TRUE(box("txtPing")->text().isEmpty());
    EXPECT_TRUE(box("txtConvert")->text().isEmpty());
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 1000);
    EXPECT_TRUE(lines().isEmpty());
    EXPECT_FALSE(lamp()->fillColor().has_value());
    EXPECT_TRUE(log->echoes.empty()) << "loading sends no probe";
    EXPECT_EQ(log->opens, 0);
}

TEST_F(Form1Test, FixedClientAreaWithOutOfViewControls) {
    showActive();
    const double dpi = form->screen()->logicalDotsPerInch();
    ASSERT_EQ(dpi, 96.0) << "the offscreen platform is expected at 96 dpi";
    EXPECT_EQ(form->size(), QSize(225, 159));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(frame("zdip")->geometry(), QRect(8, 8, 153, 49));
    EXPECT_EQ(frame("zdym")->geometry(), frame("zdip")->geometry());
    EXPECT_EQ(button("zx")->geometry(), QRect(8, 88, 209, 25));
    EXPECT_EQ(lamp()->geometry(), QRect(184, 32, 17, 17));
    for (const char* name : {"List1", "cmdFormat", "Command1", "Command2"}) {
        auto* widget = control<QWidget>(name);
        EXPECT_TRUE(widget->isVisible()) << name;
        EXPECT_TRUE(widget->isEnabled()) << name;
        EXPECT_FALSE(form->rect().intersects(widget->geometry())) << name;
    }
}

TEST_F(Form1Test, OpensCentredOnTheScreen) {
    showActive();
    const QPoint offset =
        form->frameGeometry().center() - form->screen()->availableGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2);
}

TEST_F(Form1Test, LampPaintsItsColourInsideAnOutline) {
    auto centre = [&] {
        const QImage image = lamp()->grab().toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    };
    EXPECT_EQ(centre(), lamp()->palette().color(QPalette::Base));
    Form1TestAccess::outcome(*form, "10.0.0.1", "success", 0);
    EXPECT_EQ(centre(), QColor(0, 255, 0));
    Form1TestAccess::outcome(*form, "10.0.0.1", "success", 0);
    lamp()->setFillColor(kRed);
    EXPECT_EQ(centre(), QColor(255, 0, 0));
    const QImage image = lamp()->grab().toImage();
    EXPECT_NE(image.pixelColor(image.width() / 2, 0), QColor(255, 0, 0)) << "outline";
}

TEST(Icon, IsASixteenPixelYellowFaceIn256Colours) {
    const QImage face = smilingFaceImage();
    EXPECT_EQ(face.size(), QSize(16, 16));
    EXPECT_EQ(face.format(), QImage::Format_Indexed8);
    EXPECT_LE(face.colorCount(), 256);
    const QColor cheek = face.pixelColor(7, 8);
    EXPECT_GT(cheek.red(), 200);
    EXPECT_GT(cheek.green(), 180);
    EXPECT_LT(cheek.blue(), 100);
}

TEST_F(Form1Test, AssistiveTechnologyHearsNamesAndTheLampsState) {
    EXPECT_EQ(box("txtPing")->accessibleName(), shown(texts::kZdip));
    EXPECT_EQ(box("txtConvert")->accessibleName(), shown(texts::kZdym));
    EXPECT_EQ(lamp()->accessibleName(), shown(texts::kLabel2));
    EXPECT_FALSE(control<QWidget>("List1")->accessibleName().isEmpty());
    auto description = [&] {
        return QAccessible::queryAccessibleInterface(lamp())->text(QAccessible::Description);
    };
    EXPECT_TRUE(description().startsWith(shown(texts::kNotYetProbed)))
        << description().toStdString();
    Form1TestAccess::outcome(*form, "10.0.0.1", "success", 0);
    const QString answers = shown(texts::kAnswers).arg("10.0.0.1");
    EXPECT_EQ(description(), shown(texts::kGreen).arg(answers));
    EXPECT_EQ(lamp()->toolTip(), answers);
    platform->echo = EchoScript{0, ip_status::timedOut, 0};
    click("Command1");
    EXPECT_TRUE(description().startsWith(shown(texts::kRed).arg("")))
        << description().toStdString();
    for (const char* name : {"zx", "qb", "cmdFormat", "Command1", "Command2"}) {
        EXPECT_FALSE(
            QAccessible::queryAccessibleInterface(button(name))->text(QAccessible::Name).isEmpty())
            << name;
    }
}

TEST_F(Form1Test, StartAndStopFollowTheStateTable) {
    click("zx");
    EXPECT_EQ(button("zx")->text(), shown(texts::kStop));
    EXPECT_FALSE(button("qb")->isEnabled());
    EXPECT_TRUE(timer()->isActive());
    EXPECT_TRUE(log->echoes.empty()) << "starting sends no probe at once";
    tick();
    const QStringList afterTick = lines();
    click("zx");
    EXPECT_EQ(button("zx")->text(), shown(texts::kStart));
    EXPECT_TRUE(button("qb")->isEnabled());
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(lines(), afterTick) << "stopping keeps the last line";
    EXPECT_EQ(lamp()->fillColor(), kGreen) << "stopping keeps the lamp";
    click("zx");
    EXPECT_EQ(lamp()->fillColor(), kGreen) << "starting again does not reset the lamp";
}

TEST_F(Form1Test, UnknownCaptionsMakeTheHandlersDoNothing) {
    button("zx")->setText("x");
    click("zx");
    EXPECT_EQ(button("zx")->text(), "x");
    EXPECT_FALSE(timer()->isActive());
    EXPECT_TRUE(button("qb")->isEnabled());
    button("qb")->setText("y");
    click("qb");
    EXPECT_EQ(button("qb")->text(), "y");
    EXPECT_FALSE(frame("zdip")->isHidden());
    EXPECT_TRUE(frame("zdym")->isHidden());
}

TEST_F(Form1Test, ModeSwitchKeepsBothTexts) {
    box("txtPing")->setText("10.0.0.9");
    box("txtConvert")->setText("www.example.net");
    click("qb");
    EXPECT_EQ(button("qb")->text(), shown(texts::kSwitchToAddress));
    EXPECT_TRUE(frame("zdip")->isHidden());
    EXPECT_FALSE(frame("zdym")->isHidden());
    click("qb");
    EXPECT_EQ(button("qb")->text(), shown(texts::kSwitchToHostName));
    EXPECT_FALSE(frame("zdip")->isHidden());
    EXPECT_TRUE(frame("zdym")->isHidden());
    EXPECT_EQ(box("txtPing")->text(), "10.0.0.9");
    EXPECT_EQ(box("txtConvert")->text(), "www.example.net");
}

TEST_F(Form1Test, HostNameModeResolvesOncePerStart) {
    click("qb");
    box("txtConvert")->setText("www.example.net");
    click("zx");
    EXPECT_EQ(box("txtPing")->text(), "10.0.0.1");
    tick();
    tick();
    EXPECT_EQ(log->lookups.size(), 1u);
    box("txtConvert")->setText("other.example");
    tick();
    EXPECT_EQ(probed().back(), ipv4FromOctets(10, 0, 0, 1)) << "no effect until converted again";
    click("cmdFormat");
    tick();
    EXPECT_EQ(probed().back(), ipv4FromOctets(10, 0, 0, 7));
    click("zx");
    click("zx");
    EXPECT_EQ(log->lookups.size(), 3u);
}

TEST_F(Form1Test, UnresolvedConversionEmptiesTheAddress) {
    box("txtPing")->setText("10.0.0.9");
    box("txtConvert")->setText("www.unknown.example");
    click("cmdFormat");
    EXPECT_TRUE(box("txtPing")->text().isEmpty());
    EXPECT_TRUE(log->echoes.empty()) << "a conversion never probes";
}

TEST_F(Form1Test, EveryTickLeavesExactlyTheLineOfItsProbe) {
    box("txtPing")->setText("10.0.0.1");
    click("Command1");
    click("Command1");
    EXPECT_EQ(lines().size(), 2) << "manual probes add without clearing";
    click("zx");
    tick();
    EXPECT_EQ(lines(), QStringList{"10.0.0.1\tsuccess\t3"});
    box("txtPing")->setText("10.0.0.2");
    tick();
    EXPECT_EQ(lines(), QStringList{"10.0.0.2\tsuccess\t3"}) << "the text is read at every tick";
    EXPECT_EQ(box("txtPing")->text(), "10.0.0.2");
}

TEST_F(Form1Test, LineFormatKeepsEmptyAddressAndMinusSign) {
    platform->echo = EchoScript{0, ip_status::badDestination, static_cast<std::uint32_t>(-5)};
    click("Command1");
    EXPECT_EQ(lines(), QStringList{"\tfailure\t-5"});
    platform->echo = EchoScript{1, 0, 0};
    box("txtPing")->setText("10.0.0.1");
    click("Command1");
    EXPECT_EQ(lines().back(), "10.0.0.1\tsuccess\t0");
}

TEST_F(Form1Test, WebTargetInTheBoxKeepsItsText) {
    box("txtPing")->setText("www.example.net");
    click("Command1");
    EXPECT_EQ(lines(), QStringList{"10.0.0.1\tsuccess\t3"});
    EXPECT_EQ(box("txtPing")->text(), "www.example.net");
}

TEST_F(Form1Test, LampAndRepairFollowTheStatusExactly) {
    Form1TestAccess::outcome(*form, "10.0.0.1", "success", 1);
    EXPECT_EQ(lamp()->fillColor(), kGreen);
    EXPECT_EQ(recorder.logLines(), 0);
    for (const char* status : {"Success", "success ", "failure"}) {
        Form1TestAccess::outcome(*form, "10.0.0.1", status, 1);
        EXPECT_EQ(lamp()->fillColor(), kRed) << status;
        Form1TestAccess::outcome(*form, "10.0.0.1", "success", 1);
    }
    EXPECT_EQ(recorder.logLines(), 3);
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 3; }));
    EXPECT_EQ(control<QLabel>("Label3")->text(), shown(texts::kLabel3));
}

TEST_F(Form1Test, FailedTimedAndManualProbesRepairOnceEach) {
    box("txtPing")->setText("10.0.0.1");
    platform->echo = EchoScript{0, ip_status::timedOut, 0};
    click("zx");
    tick();
    EXPECT_EQ(recorder.logLines(), 1);
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 1; }));
    click("zx");
    click("Command1");
    EXPECT_EQ(button("zx")->text(), shown(texts::kStart));
    EXPECT_EQ(recorder.logLines(), 2) << "a failed manual probe repairs while stopped too";
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 2; }));
    EXPECT_EQ(lamp()->fillColor(), kRed);
}

TEST_F(Form1Test, UnwritableLogIsReportedAndMonitoringGoesOn) {
    SKIP_UNLESS_FILES_CAN_BE_LOCKED();
    box("txtPing")->setText("10.0.0.1");
    platform->echo = EchoScript{0, ip_status::timedOut, 0};
    click("zx");
    tick();
    ASSERT_EQ(recorder.logLines(), 1);
    ASSERT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 1; }));
    {
        testing::ReadOnlyFile locked(recorder.logPath);
        tick();
        tick();
    }
    EXPECT_EQ(recorder.logLines(), 1);
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 3; }))
        << "the flush starts all the same";
    EXPECT_EQ(recorder.reports.size(), 2u);
    EXPECT_EQ(button("zx")->text(), shown(texts::kStop));
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(lines(), QStringList{"10.0.0.1\tfailure\t0"});
    EXPECT_EQ(lamp()->fillColor(), kRed);
    tick();
    EXPECT_EQ(recorder.logLines(), 2) << "the next failure repairs in full again";
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 4; }));
}

TEST_F(Form1Test, FirstTickComesOneIntervalAfterStart) {
    box("txtPing")->setText("10.0.0.1");
    click("zx");
    QTest::qWait(600);
    click("zx");
    QTest::qWait(700);
    EXPECT_TRUE(log->echoes.empty()) << "a stop within the first interval sends nothing";
    click("zx");
    EXPECT_TRUE(waitUntil([&] { return log->echoCount() == 1; }, 1600));
}

// The echo's wait is spent off the window's thread: the window takes clicks meanwhile, a tick
// or a probe asked for waits for the probe that is out, and its outcome after Stop is dropped.
TEST_F(Form1Test, SlowProbesNeverOverlapAndAnOutcomeAfterStopIsDropped) {
    box("txtPing")->setText("10.0.0.1");
    platform->echo = EchoScript{0, ip_status::timedOut, 0, std::chrono::milliseconds(1500)};
    button("zx")->click();
    QTest::qWait(3200); // the tick at 2 s ran when the first probe's outcome came, at 2.5 s
    ASSERT_TRUE(waitUntil([&] {
        const std::lock_guard lock(log->mutex);
        return log->echoesInProgress == 1;
    }));
    const int linesBefore = recorder.logLines();
    const std::size_t sent = log->echoCount();
    EXPECT_EQ(sent, 2u);
    button("Command1")->click();
    button("zx")->click();
    Form1TestAccess::settle(*form);
    EXPECT_EQ(log->echoCount(), sent + 1) << "the probe by hand went out after the other";
    EXPECT_EQ(recorder.logLines(), linesBefore + 1) << "only the probe by hand repaired";
    EXPECT_EQ(log->mostEchoesAtOnce, 1);
}

TEST_F(Form1Test, ClosingWhileRunningEndsMonitoring) {
    box("txtPing")->setText("10.0.0.1");
    platform->echo = EchoScript{0, ip_status::timedOut, 0};
    showActive();
    click("zx");
    form->close();
    QTest::qWait(1300);
    EXPECT_TRUE(log->echoes.empty());
    EXPECT_EQ(recorder.logLines(), 0);
}

TEST_F(Form1Test, FocusStartsOnTheHiddenPingButtonAndTabCyclesAsOrdered) {
    showActive();
    EXPECT_EQ(QApplication::focusWidget(), button("Command1"));
    const std::vector<QWidget*> order{button("cmdFormat"), control<QWidget>("List1"),
                                      button("Command2"),  box("txtPing"),
                                      button("qb"),        button("zx"),
                                      button("Command1")};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    click("qb");
    button("Command1")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), box("txtConvert")) << "host-name mode";
}

TEST_F(Form1Test, SpaceAtOpenSendsOneManualProbeOfTheEmptyAddress) {
    showActive();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    Form1TestAccess::settle(*form);
    ASSERT_EQ(log->echoes.size(), 1u);
    EXPECT_EQ(log->echoes[0].destination, 0u);
    EXPECT_EQ(lines().size(), 1);
}

TEST_F(Form1Test, AccessKeysReachTheOutOfViewButtonsWhileRunning) {
    showActive();
    box("txtConvert")->setText("www.example.net");
    box("txtPing")->setFocus();
    click("zx");
    QTest::keyClick(form.get(), Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(waitUntil([&] { return box("txtPing")->text() == "10.0.0.1"; }, 2000));
    QTest::keyClick(form.get(), Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(waitUntil([&] { return log->echoCount() > 0; }, 2000));
    EXPECT_EQ(log->echoes.front().destination, ipv4FromOctets(10, 0, 0, 1));
}

TEST_F(Form1Test, EnterAndEscapePressNoButton) {
    showActive();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::qWait(200);
    EXPECT_TRUE(log->echoes.empty());
}

} // namespace
} // namespace tarnvik

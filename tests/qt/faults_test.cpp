// SPDX-License-Identifier: MIT
// What the system refuses the window while it monitors: a full disk, a program directory that
// vanished, a flush command that is missing, a resolver that finds nothing. Each is reported,
// costs no half-written log line, and monitoring goes on. And whatever an operator types: it is
// probed or reported, and nothing but the address derived from it is ever sent to.
#include "fake_platform.h"
#include "form1_access.h"
#include "form1_window.h"
#include "test_support.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace tarnvik {
namespace {

namespace fs = std::filesystem;
using testing::EchoScript;
using testing::FakePlatform;
using testing::PlatformLog;
using testing::readFile;
using testing::RecordingRepair;
using testing::TempDir;
using testing::waitUntil;

class FaultTest : public ::testing::Test {
  protected:
    // The window monitors 10.0.0.1, which never answers, with its log in `logDirectory`; only
    // www.example.net resolves.
    void open(const fs::path& logDirectory, std::vector<std::string> command = {}) {
        auto settings = recorder.settings();
        settings.logDirectory = logDirectory;
        if (!command.empty()) {
            settings.command = std::move(command);
        }
        form = std::make_unique<qt::Form1Window>(
            [this] {
                auto made = std::make_unique<FakePlatform>(log);
                made->echo = EchoScript{0, ip_status::timedOut, 0};
                made->hosts = {{"www.example.net", ipv4FromOctets(10, 0, 0, 1)}};
                platform = made.get();
                return std::make_unique<cping>(std::move(made));
            },
            settings);
        form->findChild<QLineEdit*>("txtPing")->setText("10.0.0.1");
        form->findChild<QPushButton*>("zx")->click();
    }
    void tick() { Form1TestAccess::tick(*form); }
    bool stillMonitoring() { return form->findChild<QTimer*>("Timer1")->isActive(); }
    fs::path logAt(const fs::path& directory) const { return directory / "arp_log.log"; }

    TempDir dir;
    RecordingRepair recorder{dir.path()};
    std::shared_ptr<PlatformLog> log = std::make_shared<PlatformLog>();
    std::unique_ptr<qt::Form1Window> form;
    FakePlatform* platform = nullptr; // the echo client's, while the window lives
};

TEST_F(FaultTest, FullDiskLeavesOnlyWholeLinesAndTheNextRepairIsWhole) {
    const auto disk = dir.path() / "disk";
    if (const auto reason = testing::mountsUnavailable(); !reason.empty()) {
        GTEST_SKIP() << "a small disk: " << reason;
    }
    fs::create_directories(disk);
    const testing::ScopedMount small("tarnvik-test", disk, "tmpfs", 0, "size=8192,mode=0755");
    ASSERT_TRUE(small.mounted());
    const std::string line = attackLogLine("2026/12/7 9:05:03");
    // One page of filler and one page of log with room for less than a line: the disk takes the
    // first bytes of the next line and refuses the rest.
    std::string earlier;
    while (earlier.size() + line.size() <= 4096) {
        earlier += line;
    }
    ASSERT_GT(4096 - earlier.size(), 0u);
    { std::ofstream(logAt(disk), std::ios::binary) << earlier; }
    { std::ofstream(disk / "filler", std::ios::binary) << std::string(4096, 'x'); }
    open(disk);

    tick();
    tick();
    EXPECT_EQ(readFile(logAt(disk)).size(), earlier.size()) << "no part of a line stays behind";
    ASSERT_EQ(recorder.reports.size(), 2u);
    EXPECT_NE(recorder.reports[0].find("No space left on device"), std::string::npos)
        << recorder.reports[0];
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 2; }))
        << "no line, but the flush all the same";
    EXPECT_TRUE(stillMonitoring());

    fs::remove(disk / "filler");
    tick();
    EXPECT_TRUE(readFile(logAt(disk)) == earlier + line);
    EXPECT_TRUE(waitUntil([&] { return recorder.commandsStarted() == 3; }));
}

TEST_F(FaultTest, ProgramDirectoryRemovedWhileRunning) {
    const auto program = dir.path() / "program";
    fs::create_directory(program);
    open(program);
    tick();
    ASSERT_EQ(testing::countLines(logAt(program)), 1);
    fs::remove_all(program);

    tick();
    tick();
    ASSERT_EQ(recorder.reports.size(), 2u);
    EXPECT_EQ(recorder.reports[0],
              "cannot append to " + logAt(program).string() + ": No such file or directory");
    EXPECT_FALSE(fs::exists(program)) << "a directory the user removed is not made again";
    EXPECT_TRUE(stillMonitoring());
    EXPECT_EQ(log->echoes.size(), 3u);
}

TEST_F(FaultTest, MissingFlushCommandKeepsEveryLineAndMonitoringGoesOn) {
    open(dir.path(), {"tarnvik-no-such-flush"});
    tick();
    tick();
    tick();
    EXPECT_EQ(recorder.logLines(), 3);
    ASSERT_EQ(recorder.reports.size(), 3u);
    EXPECT_EQ(recorder.reports[2], "cannot start tarnvik-no-such-flush: No such file or directory");
    EXPECT_TRUE(stillMonitoring());
}

TEST_F(FaultTest, FailingResolverIsToldOnceAndIsNoAttackUntilTheNameHasResolved) {
    open(dir.path());
    form->findChild<QPushButton*>("zx")->click(); // stop, to start again in host-name mode
    form->findChild<QPushButton*>("qb")->click();
    form->findChild<QLineEdit*>("txtConvert")->setText("www.unknown\x1b[31m.example");
    form->findChild<QPushButton*>("zx")->click();
    Form1TestAccess::settle(*form);
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(recorder.reports[0], "cannot resolve www.unknown?[31m.example to an IPv4 address")
        << "a control character never reaches the terminal";
    EXPECT_TRUE(form->findChild<QLineEdit*>("txtPing")->text().isEmpty());

    tick();
    tick();
    ASSERT_EQ(log->echoes.size(), 2u);
    EXPECT_EQ(log->echoes[0].destination, 0u);
    EXPECT_EQ(recorder.logLines(), 0) << "no target is no attack";
    ASSERT_EQ(recorder.reports.size(), 2u) << "told once for the run of empty probes";
    EXPECT_EQ(recorder.reports[1], "nothing to probe: the address box is empty");

    // A web-style address in the probe box is resolved at every tick; one that never resolved
    // is told once and is no attack either.
    form->findChild<QLineEdit*>("txtPing")->setText("http://" + QString(300, 'a') + ".example/");
    tick();
    tick();
    ASSERT_EQ(recorder.reports.size(), 3u);
    EXPECT_EQ(recorder.reports[2],
              "cannot resolve http://" + std::string(73, 'a') + "... to an IPv4 address")
        << "a long text is cut";
    EXPECT_EQ(recorder.logLines(), 0);
    EXPECT_TRUE(stillMonitoring());

    // A name that has resolved in this run and then fails is a failed echo, repaired as any: a
    // name server behind a poisoned gateway fails so.
    form->findChild<QLineEdit*>("txtPing")->setText("www.example.net");
    tick();
    EXPECT_EQ(recorder.logLines(), 1) << "resolved, and the echo went unanswered";
    platform->hosts.clear();
    tick();
    EXPECT_EQ(recorder.logLines(), 2);
    EXPECT_EQ(recorder.reports.back(), "cannot resolve www.example.net to an IPv4 address");
}

struct TypedText {
    const char* what;
    QString text;
    Ipv4Value probed;        // where the echo goes
    std::string lookedUp;    // the one name asked of the resolver, if any
    std::size_t reports = 0; // lines on standard error
};

// Every text a user may type or paste: what is sent where, what is said, and that a text that
// names no target is never an attack.
TEST_F(FaultTest, AnyTypedTextIsProbedOrReportedAndOnlyItsAddressIsSentTo) {
    const QString megabyte(1 << 20, u'1');
    const QString longName = "www." + QString(1 << 20, u'a');
    const std::vector<TypedText> cases{
        {"empty", "", 0, "", 1},
        {"blanks, after the empty box: the same episode", "    ", 0, "", 0},
        {"1 MB of digits", megabyte, 0, "", 1},
        {"three parts", "198.18.77", 0, "", 1},
        {"Chinese text", QString::fromUtf8("目标主机"), 0, "", 1},
        {"1 MB web name", longName, 0, longName.toStdString(), 1},
        {"address and the blanks of a paste", " \t10.0.0.1 ", ipv4FromOctets(10, 0, 0, 1), "", 0},
        {"invalid UTF-8 made replacement", QString::fromUtf8("10.0.0.1\xff"), 0, "", 1},
        {"lone surrogate", "10.0.0.1" + QString(QChar(0xD800)), 0, "", 1},
        {"NUL inside", QString("10.0.0.1") + QChar(0) + "9", 0, "", 1},
        {"NUL inside a name", QString("www.example.net") + QChar(0) + ".evil", 0,
         std::string("www.example.net\0.evil", 21), 1},
        {"Arabic-Indic digits", QString::fromUtf8("١٠.٠.٠.١"), 0, "", 1},
        {"right-to-left mark", QString::fromUtf8("10.0.0.1\u200f"), 0, "", 1},
        {"combining accent", QString::fromUtf8("10\u0301.0.0.1"), 0, "", 1},
        {"right-to-left name", QString::fromUtf8("www.مثال.example"), 0, "www.مثال.example", 1},
        {"http alone", "http", 0, "www.", 1},
        {"web name that resolves", "HTTP://www.example.net:8080/x", ipv4FromOctets(10, 0, 0, 1),
         "www.example.net"},
        {"plain address", "10.0.0.1", ipv4FromOctets(10, 0, 0, 1), ""},
    };
    open(dir.path());
    auto* box = form->findChild<QLineEdit*>("txtPing");
    auto* probe = form->findChild<QPushButton*>("Command1");
    for (const auto& typed : cases) {
        log->echoes.clear();
        log->lookups.clear();
        recorder.reports.clear();
        const int linesBefore = recorder.logLines();
        box->setText(typed.text);
        probe->click();
        Form1TestAccess::settle(*form);
        ASSERT_EQ(log->echoes.size(), 1u) << typed.what;
        EXPECT_EQ(log->echoes[0].destination, typed.probed) << typed.what;
        EXPECT_EQ(log->lookups, typed.lookedUp.empty() ? std::vector<std::string>{}
                                                       : std::vector<std::string>{typed.lookedUp})
            << typed.what;
        EXPECT_EQ(recorder.reports.size(), typed.reports) << typed.what;
        EXPECT_EQ(box->text(), typed.text) << typed.what << ": the box keeps what was typed";
        if (typed.probed == 0) {
            EXPECT_EQ(recorder.logLines(), linesBefore) << typed.what << ": no target, no attack";
        }
        for (const auto& report : recorder.reports) {
            EXPECT_LE(report.size(), 120u) << typed.what;
        }
    }
}

} // namespace
} // namespace tarnvik

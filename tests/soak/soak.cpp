// SPDX-License-Identifier: MIT
// A long run of the window's monitoring cycle in one process: probes through the real platform
// layer to 127.0.0.1, then failed probes (to a blackholed address in a network namespace of the
// process's own, refused without a packet) whose repairs write
// the real attack log and start a replaced command. Prints its figures and exits non-zero when
// descriptors or resident memory grow after warm-up, a child is left unreaped, or the log does
// not hold exactly one whole line per repair.
//
//   tarnvik_soak [probes [repairs]]      (defaults 100000 and 10000)
#include "date_time.h"
#include "form1_access.h"
#include "form1_window.h"
#include "lab.h"
#include "test_support.h"

#include <QApplication>
#include <QLineEdit>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <unistd.h>

// Freed memory held back to catch use-after-free would read as growth here.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=0";
}

namespace {

namespace fs = std::filesystem;
using namespace tarnvik;

// Growth allowed between warm-up and the end, for allocator and page-cache noise; a leak of even
// 16 bytes per probe exceeds it within 100000 probes.
constexpr long kRssToleranceKiB = 1024;

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// This process's descriptors, less the one that reading them opens.
int ownDescriptors() {
    return static_cast<int>(netlab::openDescriptors(::getpid()).size()) - 1;
}

struct Phase {
    long rssWarm = 0, rssEnd = 0;
    int fdsWarm = 0, fdsEnd = 0;
    double seconds = 0;
};

// `count` ticks of the window; the figures after the first tenth count as warmed up.
template <typename Tick> Phase run(long count, Tick tick) {
    Phase phase;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        tick();
        if (i % 100 == 0) {
            QCoreApplication::processEvents();
        }
        if (i == count / 10) {
            phase.rssWarm = residentKiB();
            phase.fdsWarm = ownDescriptors();
        }
    }
    QCoreApplication::processEvents();
    phase.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    phase.rssEnd = residentKiB();
    phase.fdsEnd = ownDescriptors();
    return phase;
}

bool wholeLines(const std::string& log, const std::string& label, long expected) {
    long lines = 0;
    std::size_t at = 0;
    while (at < log.size()) {
        const auto end = log.find("\r\n", at);
        if (end == std::string::npos || log.compare(at, label.size(), label) != 0) {
            return false;
        }
        ++lines;
        at = end + 2;
    }
    return lines == expected;
}

} // namespace

int main(int argc, char** argv) {
    const long probes = argc > 1 ? std::atol(argv[1]) : 100000;
    const long repairs = argc > 2 ? std::atol(argv[2]) : 10000;
    // A network namespace of its own, with loopback up and 198.18.99.0/24 blackholed: a target
    // that is a real address and fails at once, with no link for a packet to leave by.
    if (::unshare(CLONE_NEWNET) != 0 ||
        std::system("ip link set lo up && ip route add blackhole 198.18.99.0/24") != 0) {
        std::printf("soak: needs root for a network namespace of its own\n");
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    testing::TempDir dir;
    long reports = 0;
    RepairSettings settings{
        dir.path(),
        {"/bin/true"},
        [] { return qt::generalDateTime(QDateTime::currentDateTime(), QLocale::c()); },
        [&](const std::string& line) {
            ++reports;
            std::fprintf(stderr, "report: %s\n", line.c_str());
        }};
    long successes = 0, failures = 0;
    qt::Form1Window form([] { return std::make_unique<cping>(); }, settings);
    auto* target = form.findChild<QLineEdit*>("txtPing");
    auto* list = form.findChild<QListWidget*>("List1");
    auto tick = [&] {
        Form1TestAccess::tick(form);
        const QString line = list->item(0)->text();
        (line.contains("\tsuccess\t") ? successes : failures) += 1;
    };

    target->setText("127.0.0.1");
    const Phase healthy = run(probes, tick);
    const long healthySuccesses = successes;
    target->setText("198.18.99.1");
    const Phase failing = run(repairs, tick);
    const int zombies = netlab::unreapedChildren(::getpid());
    const std::string log = testing::readFile(dir.path() / kAttackLogName);
    const std::string label =
        attackLogLine(qt::generalDateTime(QDateTime::currentDateTime(), QLocale::c()))
            .substr(0, 19);
    const bool logWhole = wholeLines(log, label, repairs);

    std::printf("soak: %ld probes to 127.0.0.1 in %.1f s (%.1f us each), %ld answered\n", probes,
                healthy.seconds, healthy.seconds * 1e6 / static_cast<double>(probes),
                healthySuccesses);
    std::printf("soak:   descriptors %d after warm-up, %d at the end\n", healthy.fdsWarm,
                healthy.fdsEnd);
    std::printf("soak:   resident memory %ld KiB after warm-up, %ld KiB at the end (%+ld)\n",
                healthy.rssWarm, healthy.rssEnd, healthy.rssEnd - healthy.rssWarm);
    std::printf("soak: %ld failed probes with repairs in %.1f s (%.2f ms each), %ld failed, "
                "%ld reports\n",
                repairs, failing.seconds, failing.seconds * 1e3 / static_cast<double>(repairs),
                failures, reports);
    std::printf("soak:   descriptors %d after warm-up, %d at the end\n", failing.fdsWarm,
                failing.fdsEnd);
    std::printf("soak:   resident memory %ld KiB after warm-up, %ld KiB at the end (%+ld)\n",
                failing.rssWarm, failing.rssEnd, failing.rssEnd - failing.rssWarm);
    std::printf("soak:   unreaped children %d; log %zu bytes, %s\n", zombies, log.size(),
                logWhole ? "one whole line per repair" : "NOT one whole line per repair");

    bool ok = true;
    auto check = [&](bool holds, const char* what) {
        if (!holds) {
            std::printf("soak: FAILED: %s\n", what);
            ok = false;
        }
    };
    check(healthySuccesses == probes, "every probe of 127.0.0.1 answered");
    check(failures == repairs && reports == 0, "every failed probe repaired without a report");
    check(healthy.fdsEnd == healthy.fdsWarm && failing.fdsEnd == failing.fdsWarm,
          "descriptors do not grow");
    check(healthy.rssEnd - healthy.rssWarm <= kRssToleranceKiB &&
              failing.rssEnd - failing.rssWarm <= kRssToleranceKiB,
          "resident memory does not grow");
    check(zombies == 0, "no child left unreaped");
    check(logWhole, "one whole log line per repair");
    return ok ? 0 : 1;
}

// SPDX-License-Identifier: MIT
#include "diagnostics.h"
#include "form1_window.h"
#include "language.h"
#include "launch.h"
#include "options.h"
#include "system.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// SIGTERM and SIGINT end the event loop, so that the window goes as when it is closed (and a
// hold of the guard is released): the handler only writes a byte the loop reads.
int quitPipe[2] = {-1, -1};

void onQuitSignal(int) {
    const char byte = 1;
    (void)!::write(quitPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char** argv) {
    // Answered before anything needs a display.
    const auto options = tarnvik::parseOptions({argv + 1, argv + argc});
    if (!options.error.empty()) {
        std::fprintf(stderr, "tarnvik: %s\n%s", tarnvik::printableExcerpt(options.error).c_str(),
                     tarnvik::kUsage);
        return 2;
    }
    if (options.version) {
        std::fputs("tarnvik " TARNVIK_VERSION "\n", stdout);
        return 0;
    }
    if (options.help) {
        std::fputs(tarnvik::kUsage, stdout);
        std::fputs("\nSee tarnvik(1), tarnvik-flush(8), tarnvik-hold(8) and tarnvik-arp(8).\n",
                   stdout);
        return 0;
    }
    const auto launch = tarnvik::resolveLaunch(options, tarnvik::os::configurationLayers());
    if (options.autostart && !launch.start) {
        return 0; // the session's autostart entry, where nobody asked for it
    }
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr) {
        std::fprintf(stderr,
                     "tarnvik: no display to open the window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set).\nOn a machine without a desktop, run it "
                     "on a virtual display: xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    for (const auto& line : tarnvik::os::startupDiagnostics()) {
        tarnvik::os::report(line.render());
    }
    for (const auto& problem : launch.problems) {
        tarnvik::os::report(problem);
    }
    QApplication app(argc, argv);
    tarnvik::qt::installTranslations();
    std::unique_ptr<QSocketNotifier> quitNotifier;
    if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction action {};
        action.sa_handler = onQuitSignal;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
        quitNotifier = std::make_unique<QSocketNotifier>(quitPipe[0], QSocketNotifier::Read);
        QObject::connect(quitNotifier.get(), &QSocketNotifier::activated, &app,
                         &QApplication::quit);
    }
    auto repair = tarnvik::qt::desktopRepairSettings();
    // Also without --guard: every start releases what a killed run left held.
    repair.guard = tarnvik::systemGuardSettings(repair);
    repair.guard->holds = launch.guard;
    for (const auto& problem : launch.problems) {
        repair.problems.push_back({tarnvik::texts::kSettingIgnored, {problem}});
    }
    tarnvik::qt::Form1Window window([] { return std::make_unique<tarnvik::cping>(); },
                                    std::move(repair));
    window.show();
    if (launch.target) {
        window.launch(*launch.target, launch.start);
    }
    return app.exec();
}

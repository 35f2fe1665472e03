// SPDX-License-Identifier: MIT
#include "form1_window.h"
#include "system.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "Usage: tarnvik [--help | --version]\n"
    "\n"
    "Keeps the connection to one host: one ICMP echo a second, a green or red lamp. Each\n"
    "unanswered echo is logged to arp_log.log and the ARP cache is flushed, so that it is\n"
    "learnt afresh. The window says at start where the log is and what it lacks.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "See tarnvik(1) and tarnvik-flush(8).\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before anything needs a display; any other argument opens the window as ever.
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--version") {
            std::fputs("tarnvik " TARNVIK_VERSION "\n", stdout);
            return 0;
        }
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
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
        tarnvik::os::report(line);
    }
    QApplication app(argc, argv);
    tarnvik::qt::Form1Window window;
    window.show();
    return app.exec();
}

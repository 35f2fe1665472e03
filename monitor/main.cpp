#include "diagnostics.h"
#include "form1.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr) {
        std::fprintf(stderr,
                     "tarnvik: no display to open the window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set).\nOn a machine without a desktop, run it "
                     "on a virtual display: xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    for (const auto& line : tarnvik::startupDiagnostics(tarnvik::systemStartupFacts())) {
        std::fprintf(stderr, "tarnvik: %s\n", line.c_str());
    }
    QApplication app(argc, argv);
    tarnvik::Form1 window;
    window.show();
    return app.exec();
}

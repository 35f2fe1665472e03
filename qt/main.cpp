#include "form1_window.h"
#include "system.h"

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
    for (const auto& line : tarnvik::os::startupDiagnostics()) {
        tarnvik::os::report(line);
    }
    QApplication app(argc, argv);
    tarnvik::qt::Form1Window window;
    window.show();
    return app.exec();
}

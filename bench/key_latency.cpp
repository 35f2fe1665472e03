// SPDX-License-Identifier: MIT
// Key press to screen on the display this runs on: presses Tab and Shift+Tab in turn (xdotool),
// which moves the focus between the two visible buttons of the focused window, and times each
// press until the screen shows the change. Prints the times in milliseconds on one line.
//
//   key_latency PRESSES
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int presses = argc > 1 ? std::atoi(argv[1]) : 10;
    QScreen* screen = QGuiApplication::primaryScreen();
    const auto grab = [&] { return screen->grabWindow(0).toImage(); };
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < presses; ++i) {
        const QImage before = grab();
        const auto pressed = Clock::now();
        QProcess::execute("xdotool", {"key", i % 2 == 0 ? "shift+Tab" : "Tab"});
        double milliseconds = -1;
        while (Clock::now() - pressed < std::chrono::seconds(3)) {
            if (grab() != before) {
                milliseconds =
                    std::chrono::duration<double, std::milli>(Clock::now() - pressed).count();
                break;
            }
        }
        std::printf("%s%.1f", i == 0 ? "" : " ", milliseconds);
        // Presses at an odd spacing, so that they fall anywhere within a probe's wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(137));
    }
    std::printf("\n");
    return 0;
}

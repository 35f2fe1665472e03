// SPDX-License-Identifier: MIT
// The floor for the window's footprint: a bare Qt 6 window of the same fixed size. With
// "--legend" it shows one label with the window's Chinese legend, which is what loading the
// fonts costs by itself.
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

#include <cmath>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("bare");
    const double dpi = window.screen()->logicalDotsPerInch();
    window.setFixedSize(static_cast<int>(std::lround(3375 * dpi / 1440)),
                        static_cast<int>(std::lround(2385 * dpi / 1440)));
    if (argc > 1 && std::strcmp(argv[1], "--legend") == 0) {
        auto* legend = new QLabel(QString::fromUtf8("绿色代表畅通，红色代表故障"), &window);
        legend->move(32, 64);
    }
    window.show();
    return app.exec();
}

// Writes the window's icon for the desktops: the 16-pixel PNG for the desktop entry, or, for a
// name ending in .ico, the Windows icon at 16, 32 and 48 pixels. Run by the builds.
#include "icon.h"

#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
    const QString file = argc == 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    bool written = false;
    if (file.endsWith(".ico")) {
        QFile out(file);
        written = out.open(QIODevice::WriteOnly) &&
                  out.write(tarnvik::iconFile({tarnvik::smilingFaceImage(16),
                                               tarnvik::smilingFaceImage(32),
                                               tarnvik::smilingFaceImage(48)})) > 0;
    } else if (!file.isEmpty()) {
        written = tarnvik::smilingFaceImage().save(file, "PNG");
    }
    if (!written) {
        std::fprintf(stderr, "usage: write_icon FILE.png|FILE.ico\n");
        return 1;
    }
    return 0;
}

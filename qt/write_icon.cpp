// SPDX-License-Identifier: MIT
// Writes the icon files the desktops ask for into a directory: SIZExSIZE/tarnvik.png for every
// hicolor size, and tarnvik.ico (16, 32, 48) for the Windows edition. Run by the build.
#include "icon.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_icon DIRECTORY\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool written = true;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString name = QString("%1x%1/tarnvik.png").arg(size);
        written = written && out.mkpath(QString("%1x%1").arg(size)) &&
                  tarnvik::smilingFaceImage(size).save(out.filePath(name), "PNG");
    }
    QFile ico(out.filePath("tarnvik.ico"));
    written =
        written && ico.open(QIODevice::WriteOnly) &&
        ico.write(tarnvik::iconFile({tarnvik::smilingFaceImage(16), tarnvik::smilingFaceImage(32),
                                     tarnvik::smilingFaceImage(48)})) > 0;
    if (!written) {
        std::fprintf(stderr, "write_icon: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}

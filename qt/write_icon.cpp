// Writes the window's icon as a PNG file for the desktop entry; run by the build.
#include "icon.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2 || !tarnvik::smilingFaceImage().save(argv[1], "PNG")) {
        std::fprintf(stderr, "usage: write_icon FILE.png\n");
        return 1;
    }
    return 0;
}

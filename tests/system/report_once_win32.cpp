// SPDX-License-Identifier: MIT
// Started without a console of its own by a test that has one: sends one report, then answers
// with its exit status whether it still holds a console (1) or not (0).
#include "system.h"

#include <windows.h>

int main() {
    tarnvik::os::report("console check");
    return ::GetConsoleWindow() != nullptr ? 1 : 0;
}

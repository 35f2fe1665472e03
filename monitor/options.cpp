// SPDX-License-Identifier: MIT
#include "options.h"

namespace tarnvik {

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    const auto fail = [&](const std::string& error) {
        if (options.error.empty()) {
            options.error = error;
        }
    };
    for (auto next = arguments.begin(); next != arguments.end(); ++next) {
        const auto& argument = *next;
        if (argument == "--start") {
            if (next + 1 == arguments.end()) {
                fail("--start needs a target");
            } else {
                options.start = *++next;
            }
        } else if (argument.starts_with("--start=")) {
            options.start = argument.substr(8);
        } else if (argument == "--autostart") {
            options.autostart = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--guard") {
            options.guard = true;
        } else {
            // The program takes no operands (an address given here would be silently lost) and
            // no "--" either.
            fail("unknown argument " + (argument.empty() ? std::string("''") : argument));
        }
    }
    return options;
}

} // namespace tarnvik

// SPDX-License-Identifier: MIT
#include "options.h"

namespace tarnvik {

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    for (const auto& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--guard") {
            options.guard = true;
        } else if (options.unknown.empty()) {
            // The program takes no operands (an address given here would be silently lost) and
            // no "--" either.
            options.unknown = argument.empty() ? std::string("''") : argument;
        }
    }
    return options;
}

} // namespace tarnvik

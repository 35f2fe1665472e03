// SPDX-License-Identifier: MIT
// Dotted-text conversion of any bytes: no crash, no undefined behaviour, and whatever it accepts
// converts back to the same address from its own dotted form.
#include "cping_access.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tarnvik::cpingTestAccess;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto value = static_cast<tarnvik::Ipv4Value>(cpingTestAccess::funcIPTextToAddr(text));
    if (value == 0) {
        return 0;
    }
    if (text.find('.') == std::string::npos) {
        std::abort(); // an address needs four parts
    }
    const auto octets = tarnvik::ipv4Octets(value);
    const std::string dotted = std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." +
                               std::to_string(octets[2]) + "." + std::to_string(octets[3]);
    if (static_cast<tarnvik::Ipv4Value>(cpingTestAccess::funcIPTextToAddr(dotted)) != value) {
        std::abort();
    }
    return 0;
}

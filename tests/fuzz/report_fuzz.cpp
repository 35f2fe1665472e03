// SPDX-License-Identifier: MIT
// The collector's reader on what the network may send: any bytes, as lines, then every form of
// the report.
#include "report.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    tarnvik::report::Report report;
    for (std::size_t from = 0; from <= input.size();) {
        const auto end = std::min(input.find('\n', from), input.size());
        report.add(input.substr(from, end - from));
        from = end + 1;
    }
    const auto now = tarnvik::report::parseTime(input).value_or(0);
    (void)tarnvik::report::table(report, now);
    (void)tarnvik::report::json(report, now);
    (void)tarnvik::report::csv(report, now);
    return 0;
}

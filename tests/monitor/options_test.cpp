// SPDX-License-Identifier: MIT
#include "options.h"

#include <gtest/gtest.h>

namespace tarnvik {
namespace {

TEST(Options, AMistypedOptionIsNeverTakenForNone) {
    struct Case {
        std::vector<std::string> arguments;
        bool guard;
        const char* unknown;
    };
    const Case cases[] = {
        {{}, false, ""},
        {{"--guard"}, true, ""},
        {{"--gaurd"}, false, "--gaurd"},
        {{"--guard", "-g", "--x"}, true, "-g"},
        {{"-"}, false, "-"},
        {{"198.18.0.2"}, false, "198.18.0.2"}, // no operands: the address would be lost
        {{"--guard", "--"}, true, "--"},
        {{""}, false, "''"},
    };
    for (const auto& c : cases) {
        const auto options = parseOptions(c.arguments);
        EXPECT_EQ(options.guard, c.guard) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(options.unknown, c.unknown) << ::testing::PrintToString(c.arguments);
    }
    EXPECT_TRUE(parseOptions({"--version"}).version);
    EXPECT_TRUE(parseOptions({"-h"}).help);
}

} // namespace
} // namespace tarnvik

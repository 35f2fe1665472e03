// SPDX-License-Identifier: MIT
#include "launch.h"
#include "options.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace tarnvik {
namespace {

TEST(Options, AMistypedOptionIsNeverTakenForNone) {
    struct Case {
        std::vector<std::string> arguments;
        bool guard;
        const char* error;
        std::optional<std::string> start = std::nullopt;
    };
    const Case cases[] = {
        {{}, false, ""},
        {{"--guard"}, true, ""},
        {{"--gaurd"}, false, "unknown argument --gaurd"},
        {{"--guard", "-g", "--x"}, true, "unknown argument -g"},
        {{"-"}, false, "unknown argument -"},
        // No operands: the address would be lost.
        {{"198.18.0.2"}, false, "unknown argument 198.18.0.2"},
        {{"--guard", "--"}, true, "unknown argument --"},
        {{""}, false, "unknown argument ''"},
        {{"--start", "198.18.0.2", "--guard"}, true, "", "198.18.0.2"},
        {{"--start=www.example.test"}, false, "", "www.example.test"},
        // The target is the next word whatever it looks like; none at the end is an error.
        {{"--start", "--guard"}, false, "", "--guard"},
        {{"--guard", "--start"}, true, "--start needs a target"},
    };
    for (const auto& c : cases) {
        const auto options = parseOptions(c.arguments);
        EXPECT_EQ(options.guard, c.guard) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(options.error, c.error) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(options.start, c.start) << ::testing::PrintToString(c.arguments);
    }
    EXPECT_TRUE(parseOptions({"--version"}).version);
    EXPECT_TRUE(parseOptions({"-h"}).help);
}

} // namespace
} // namespace tarnvik

namespace tarnvik {
namespace {

TEST(Launch, ConfigFilesReadAsAdministratorsWriteThem) {
    const auto system = parseConfigFile("/etc/xdg/tarnvik/tarnvik.conf",
                                        "\xEF\xBB\xBF# deployed\r\n[General]\r\ntarget = "
                                        "198.18.0.2 \r\n; note\r\nlocked=target, guard,nope\r\n"
                                        "[Other]\r\nstart=true\r\n[General]\r\nbogus\r\ncolour=red",
                                        true);
    EXPECT_EQ(system.values, (decltype(system.values){"198.18.0.2", std::nullopt, std::nullopt}));
    EXPECT_EQ(system.locked, (decltype(system.locked){true, false, true}));
    ASSERT_EQ(system.problems.size(), 3u);
    EXPECT_EQ(system.problems[0], "/etc/xdg/tarnvik/tarnvik.conf:5: locked names no key: nope");
    EXPECT_EQ(system.problems[1], "/etc/xdg/tarnvik/tarnvik.conf:9: not a key = value line: bogus");
    EXPECT_EQ(system.problems[2], "/etc/xdg/tarnvik/tarnvik.conf:10: no such key: colour");
    // A user's file locks nothing.
    const auto user = parseConfigFile("~/.config/tarnvik/tarnvik.conf", "locked = target\n", false);
    EXPECT_EQ(user.locked, (decltype(user.locked){}));
    EXPECT_EQ(user.problems.size(), 1u);
}

TEST(Launch, CommandLineOverConfigurationAndLockedSystemKeysOverBoth) {
    const auto layer = [](std::map<std::string, std::string> values,
                          std::set<std::string> locked = {}, bool system = true) {
        ConfigLayer made{system ? "system" : "user", {}, {}, system, {}};
        for (const auto& [key, value] : values) {
            made.values[static_cast<std::size_t>(configKey(key))] = value;
        }
        for (const auto& key : locked) {
            made.locked[static_cast<std::size_t>(configKey(key))] = true;
        }
        return made;
    };
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        std::vector<ConfigLayer> layers;
        std::optional<std::string> target;
        bool start, guard;
        std::vector<std::string> problems = {};
    };
    const Case cases[] = {
        {"nothing: the window as ever", {}, {}, std::nullopt, false, false},
        {"--start", {"--start", "198.18.0.2"}, {}, "198.18.0.2", true, false},
        {"a target alone fills the box",
         {},
         {layer({{"target", "www.a.test"}})},
         "www.a.test",
         false,
         false},
        {"start and guard from the system",
         {},
         {layer({{"target", "198.18.0.2"}, {"start", "yes"}, {"guard", "1"}})},
         "198.18.0.2",
         true,
         true},
        {"the user's file after the system's",
         {},
         {layer({{"target", "198.18.0.2"}, {"start", "true"}}),
          layer({{"target", "198.18.0.9"}, {"start", "off"}}, {}, false)},
         "198.18.0.9",
         false,
         false},
        {"a locked key wins over the user's file and the command line",
         {"--start", "198.18.0.7"},
         {layer({{"target", "198.18.0.2"}, {"start", "true"}}, {"target", "start"}),
          layer({{"target", "198.18.0.9"}, {"start", "false"}}, {}, false)},
         "198.18.0.2",
         true,
         false,
         {"user: target is locked by system; its value there stays",
          "user: start is locked by system; its value there stays",
          "--start: target is locked by system; ignored"}},
        {"a locked guard = false refuses --guard",
         {"--guard"},
         {layer({{"guard", "false"}}, {"guard"})},
         std::nullopt,
         false,
         false,
         {"--guard: guard is locked by system; ignored"}},
        {"bad values are said and ignored",
         {},
         {layer({{"target", "1.2.3"}, {"start", "maybe"}, {"guard", ""}})},
         std::nullopt,
         false,
         false,
         {"system: target = 1.2.3 is neither an IPv4 address nor a host name; ignored",
          "system: start = maybe is neither true nor false; ignored",
          "system: guard =  is neither true nor false; ignored"}},
        {"a bad value in the user's file leaves the system's",
         {},
         {layer({{"target", "198.18.0.2"}, {"start", "true"}}),
          layer({{"target", "1.2.3"}, {"start", "maybe"}}, {}, false)},
         "198.18.0.2",
         true,
         false,
         {"user: target = 1.2.3 is neither an IPv4 address nor a host name; ignored",
          "user: start = maybe is neither true nor false; ignored"}},
        {"start without a target",
         {},
         {layer({{"start", "true"}})},
         std::nullopt,
         false,
         false,
         {"system: start = true names no target; ignored"}},
    };
    for (const auto& c : cases) {
        const auto launch = resolveLaunch(parseOptions(c.arguments), c.layers);
        EXPECT_EQ(launch.target, c.target) << c.what;
        EXPECT_EQ(launch.start, c.start) << c.what;
        EXPECT_EQ(launch.guard, c.guard) << c.what;
        EXPECT_EQ(launch.problems, c.problems) << c.what;
    }
}

TEST(Launch, TheBoxReadsAnAddressAHostNameOrNoTarget) {
    const std::pair<const char*, TargetForm> cases[] = {
        {" 198.18.0.2 ", TargetForm::address},
        {"www.example.test", TargetForm::hostName},
        {"http://x.test/a b", TargetForm::hostName},
        {"gateway.lan", TargetForm::hostName},
        {"router", TargetForm::hostName},
        {"1.2.3", TargetForm::none},
        {"0.0.0.0", TargetForm::none},
        {"", TargetForm::none},
        {"a b", TargetForm::none},
        {"-x", TargetForm::none},
        {"x\x1b[31m", TargetForm::none},
    };
    for (const auto& [text, form] : cases) {
        EXPECT_EQ(targetForm(text), form) << text;
    }
}

} // namespace
} // namespace tarnvik

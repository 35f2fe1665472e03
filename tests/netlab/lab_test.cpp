// SPDX-License-Identifier: MIT
// The lab's own waits: a program that leaves a descendant holding its output open (as Wine's
// session processes do) must not hold a test, and the descendant must not outlive it.
#include "lab.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

namespace tarnvik::netlab {
namespace {

using namespace std::chrono_literals;

// Whether `pid` still runs a second later (a killed process takes a moment to end).
bool running(pid_t pid) {
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.find(") Z ") != std::string::npos) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(Lab, DescendantsHoldingTheOutputNeitherHoldTheWaitNorOutliveIt) {
    const auto started = std::chrono::steady_clock::now();
    const auto result = run({"sh", "-c", "sleep 60 & echo $!; echo done"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    ASSERT_NE(result.output.find("done"), std::string::npos) << result.output;
    EXPECT_FALSE(running(std::stoi(result.output)));

    Process background({"sh", "-c", "sleep 60 & echo $!; exec sleep 60"});
    const pid_t descendant = std::stoi(background.readLine(5s));
    const auto stopping = std::chrono::steady_clock::now();
    background.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 5s);
    EXPECT_FALSE(running(descendant));

    const auto stuck = run({"sleep", "60"}, 300ms);
    EXPECT_EQ(stuck.exitCode, 128 + SIGKILL) << "ended at its deadline";
}

} // namespace
} // namespace tarnvik::netlab

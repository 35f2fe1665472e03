// SPDX-License-Identifier: MIT
// The repair helper in a namespace of its own: what it deletes, what it keeps, and what it
// needs to do so.
#include "lab.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace tarnvik::netlab {
namespace {

namespace fs = std::filesystem;

class FlushHelper : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const auto reason = unavailableReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
        ws = lab.add("ws");
        peer = lab.add("peer");
        lab.link(ws, peer);
        lab.mustExec(ws, {"ip", "addr", "add", "198.18.0.1/24", "dev", "eth0"});
        // A poisoned entry as a forged reply leaves it, and one set by hand.
        lab.mustExec(ws, {"ip", "neigh", "replace", "198.18.0.2", "lladdr", "02:00:00:de:ad:01",
                          "dev", "eth0", "nud", "reachable"});
        lab.mustExec(ws, {"ip", "neigh", "replace", "198.18.0.9", "lladdr", "02:00:00:00:00:09",
                          "dev", "eth0", "nud", "permanent"});
    }

    std::string neighbours() { return lab.mustExec(ws, {"ip", "-4", "neigh", "show"}); }

    // The helper copied where an unprivileged user may run it.
    fs::path copyForOthers() {
        char pattern[] = "/tmp/tarnvik-flush-XXXXXX";
        dir = ::mkdtemp(pattern);
        ::chmod(dir.c_str(), 0755);
        const auto copy = dir / "tarnvik-flush";
        fs::copy_file(FLUSH_HELPER, copy);
        return copy;
    }

    void TearDown() override {
        if (!dir.empty()) {
            fs::remove_all(dir);
        }
    }

    Namespaces lab{"f"};
    std::string ws, peer;
    fs::path dir;
};

TEST_F(FlushHelper, DeletesLearntEntriesAndKeepsPermanentOnes) {
    ASSERT_NE(neighbours().find("198.18.0.2"), std::string::npos);
    const auto result = lab.exec(ws, {FLUSH_HELPER});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "");
    const auto left = neighbours();
    EXPECT_EQ(left.find("198.18.0.2"), std::string::npos) << left;
    EXPECT_NE(left.find("198.18.0.9"), std::string::npos) << left;
}

TEST_F(FlushHelper, TakesNoArguments) {
    const auto result = lab.exec(ws, {FLUSH_HELPER, "--all"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(neighbours().find("198.18.0.2"), std::string::npos);
}

TEST_F(FlushHelper, UnprivilegedUserNeedsTheCapability) {
    const auto helper = copyForOthers();
    const std::vector<std::string> asNobody{"setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups", helper.string()};
    const auto refused = lab.exec(ws, asNobody);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.output,
              "tarnvik-flush: cannot delete the neighbour entries: Operation not permitted\n");
    EXPECT_NE(neighbours().find("198.18.0.2"), std::string::npos);

    mustRun({"setcap", "cap_net_admin+ep", helper.string()});
    const auto allowed = lab.exec(ws, asNobody);
    EXPECT_EQ(allowed.exitCode, 0) << allowed.output;
    EXPECT_EQ(neighbours().find("198.18.0.2"), std::string::npos);
    EXPECT_NE(neighbours().find("198.18.0.9"), std::string::npos);
}

// The hold helper: exactly its arguments, strictly; a hold marked as ours, released with every
// other of ours and nothing else; and, installed 0750 for its group, no use to anyone else.
TEST_F(FlushHelper, HoldTakesOnlyUnicastAddressesAndReleasesOnlyItsOwn) {
    const std::string index = lab.mustExec(ws, {"cat", "/sys/class/net/eth0/ifindex"});
    const std::string eth0 = index.substr(0, index.find('\n'));
    for (const std::vector<std::string>& refused :
         std::vector<std::vector<std::string>>{{},
                                               {"--release", "x"},
                                               {eth0, "198.18.0.2"},
                                               {eth0, "198.18.0.2", "ff:ff:ff:ff:ff:ff"},
                                               {eth0, "198.18.0.2", "01:00:5e:00:00:01"},
                                               {eth0, "198.18.0.2", "00:00:00:00:00:00"},
                                               {eth0, "198.18.0.2", "02:00:00:00:00:0g"},
                                               {eth0, "255.255.255.255", "02:00:00:00:00:02"},
                                               {eth0, "224.0.0.1", "02:00:00:00:00:02"},
                                               {eth0, "0.0.0.0", "02:00:00:00:00:02"},
                                               {eth0, "198.18.0.2 ", "02:00:00:00:00:02"},
                                               {"0", "198.18.0.2", "02:00:00:00:00:02"},
                                               {"-1", "198.18.0.2", "02:00:00:00:00:02"}}) {
        std::vector<std::string> argv{HOLD_HELPER};
        argv.insert(argv.end(), refused.begin(), refused.end());
        EXPECT_EQ(lab.exec(ws, argv).exitCode, 2) << ::testing::PrintToString(refused);
    }
    EXPECT_EQ(lab.exec(ws, {HOLD_HELPER, eth0, "198.18.0.2", "02:00:00:00:00:02"}).exitCode, 0);
    EXPECT_NE(neighbours().find("198.18.0.2 dev eth0 lladdr 02:00:00:00:00:02 PERMANENT"),
              std::string::npos)
        << neighbours();
    EXPECT_EQ(lab.exec(ws, {HOLD_HELPER, "--release"}).exitCode, 0);
    EXPECT_EQ(neighbours().find("198.18.0.2 "), std::string::npos) << neighbours();
    EXPECT_NE(neighbours().find("198.18.0.9 dev eth0 lladdr 02:00:00:00:00:09 PERMANENT"),
              std::string::npos)
        << "a permanent entry that is not ours stays: " << neighbours();

    char pattern[] = "/tmp/tarnvik-hold-XXXXXX";
    dir = ::mkdtemp(pattern);
    ::chmod(dir.c_str(), 0755);
    const auto copy = dir / "tarnvik-hold";
    fs::copy_file(HOLD_HELPER, copy);
    ::chmod(copy.c_str(), 0750);
    const auto outsider = lab.exec(ws, {"setpriv", "--reuid=65534", "--regid=65534",
                                        "--clear-groups", copy.string(), "--release"});
    EXPECT_NE(outsider.exitCode, 0);
    EXPECT_TRUE(outsider.output.find("Permission denied") != std::string::npos ||
                outsider.output.find("only root and members of the group tarnvik") !=
                    std::string::npos)
        << outsider.output;
}

} // namespace
} // namespace tarnvik::netlab

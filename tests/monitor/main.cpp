// SPDX-License-Identifier: MIT
// Runs the window's tests on Qt's offscreen platform. As root the process first takes a private
// mount namespace, so that tests can make a file read-only with a bind mount, which root obeys
// too, without touching the machine's mounts. Where that namespace cannot be made private (a
// plain chroot, whose root is no mount point), the tests that mount skip with the reason.
#include "test_support.h"
#ifdef TARNVIK_WINDOW_TESTS
#include "language.h"
#endif

#include <QApplication>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace tarnvik::testing {

std::string& mountNamespaceProblem() {
    static std::string problem = "no private mount namespace was made";
    return problem;
}

} // namespace tarnvik::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    auto& problem = tarnvik::testing::mountNamespaceProblem();
    if (::geteuid() != 0) {
        problem = "mounting needs root";
    } else if (::unshare(CLONE_NEWNS) != 0) {
        problem = std::string("cannot take a mount namespace of its own: ") + std::strerror(errno);
    } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        problem = std::string("cannot make the mount namespace private (is / a mount point?): ") +
                  std::strerror(errno);
    } else {
        problem.clear();
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C");
    QApplication app(argc, argv);
#ifdef TARNVIK_WINDOW_TESTS
    // The window speaks the language of LANGUAGE (the C locale's formats stay).
    tarnvik::qt::installTranslations();
#endif
    return RUN_ALL_TESTS();
}

// SPDX-License-Identifier: MIT
// Runs the window's tests on Qt's offscreen platform. As root the process first takes a private
// mount namespace, so that tests can make a file read-only with a bind mount, which root obeys
// too, without touching the machine's mounts.
#include <QApplication>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0) {
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

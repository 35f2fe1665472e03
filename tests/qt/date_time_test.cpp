// SPDX-License-Identifier: MIT
#include "date_time.h"

#include <gtest/gtest.h>

namespace tarnvik::qt {
namespace {

TEST(GeneralDateTime, FollowsTheLocaleWithoutTimeZoneAndLeavesMidnightOut) {
    const QDateTime morning(QDate(2026, 12, 7), QTime(9, 5, 3));
    EXPECT_EQ(generalDateTime(morning, QLocale::c()), "2026/12/7 9:05:03");
    EXPECT_EQ(generalDateTime(QDateTime(QDate(2026, 1, 2), QTime(0, 0, 0)), QLocale::c()),
              "2026/1/2");
    EXPECT_EQ(generalDateTime(QDateTime(QDate(2026, 1, 2), QTime(0, 0, 1)), QLocale::c()),
              "2026/1/2 0:00:01");
    EXPECT_EQ(generalDateTime(morning, QLocale("en_US")), "12/7/26 9:05:03 AM");
    EXPECT_EQ(generalDateTime(morning, QLocale("de_DE")), "07.12.26 09:05:03");
    EXPECT_EQ(generalDateTime(morning, QLocale("zh_CN")), "2026/12/7 09:05:03");
    // Digits or a calendar that GBK cannot hold: the same moment in ASCII digits.
    EXPECT_EQ(generalDateTime(morning, QLocale("ar_EG")), "2026-12-07 09:05:03");
    EXPECT_EQ(generalDateTime(morning, QLocale("fa_IR")), "2026-12-07 09:05:03");
}

} // namespace
} // namespace tarnvik::qt

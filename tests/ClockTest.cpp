#include <gtest/gtest.h>

#include <ctime>

#include "platform/Clock.h"

namespace velto {
namespace {

TEST(Clock, ManualMovesOnlyWhenAdvancedAndSystemDateIsTheWallClock) {
    ManualClock manual(Date{100.0});
    const Instant start = manual.now();
    manual.advance(std::chrono::milliseconds(1500));
    EXPECT_EQ(manual.now() - start, std::chrono::milliseconds(1500));
    EXPECT_DOUBLE_EQ(manual.date().secondsSinceReferenceDate, 101.5);
    SystemClock clock;
    EXPECT_NEAR(clock.date().unixSeconds(), static_cast<double>(std::time(nullptr)), 2.0);
}

}  // namespace
}  // namespace velto

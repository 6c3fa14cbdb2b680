#include <gtest/gtest.h>

#include <ctime>

#include "platform/Clock.h"

namespace velto {
namespace {

using std::chrono::milliseconds;

TEST(ManualClock, MovesOnlyWhenAdvancedAndItsDateMovesAlong) {
    ManualClock clock(Date{100.0});
    const Instant start = clock.now();
    EXPECT_EQ(clock.now(), start);
    EXPECT_DOUBLE_EQ(clock.date().secondsSinceReferenceDate, 100.0);
    clock.advance(milliseconds(1500));
    EXPECT_EQ(clock.now() - start, milliseconds(1500));
    EXPECT_DOUBLE_EQ(clock.date().secondsSinceReferenceDate, 101.5);
}

TEST(SystemClock, IsMonotonicAndItsDateIsTheWallClock) {
    SystemClock clock;
    const Instant first = clock.now();
    EXPECT_LE(first, clock.now());
    const double wall = static_cast<double>(std::time(nullptr));
    EXPECT_NEAR(clock.date().unixSeconds(), wall, 2.0);
}

}  // namespace
}  // namespace velto

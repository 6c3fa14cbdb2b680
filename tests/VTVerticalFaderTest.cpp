// The vertical fader: fade profiles on the manual clock, the bar it draws, and
// fades that start from levels far outside 0 to 100.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

using velto::test::PrintTo;

constexpr const char* kAddress = "/stagevue/test/fader";
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

class VTVerticalFaderTest : public BridgeFixture {
protected:
    // Column 3, grid rows 1 to 3 (levels 0, 50, 100).
    std::unique_ptr<VTVerticalFader> fader =
        VTVerticalFader::controlWithRectAndAddress(VTRect{{3, 1}, {1, 3}}, kAddress);

    void press(std::uint32_t row) { fader->processPressAtXAndY(3, row); }
    void release(std::uint32_t row) { fader->processReleaseAtXAndY(3, row); }
    // A level reported by the video app, drawn and taken as the fader's level.
    void report(float level) {
        fader->processMessageWithAddressAndValue(kAddress, level);
        sendPendingNow();
    }
    // Ticks until the fade ends (at most `limit` of them); the levels sent.
    std::vector<float> levelsUntilIdle(int limit) {
        std::vector<float> levels;
        for (int i = 0; i < limit && fader->isFading(); ++i) {
            const auto sent = tick();
            EXPECT_EQ(sent.values.size(), 1u) << "one level per tick";
            EXPECT_EQ(sent.lights.size(), 3u) << "one light per row per tick";
            for (const auto& value : sent.values) levels.push_back(value.value);
        }
        return levels;
    }
};

TEST_F(VTVerticalFaderTest, HeldPressFromZeroRisesWithElapsedTimeAndEndsExactlyOnTopAtTwoSeconds) {
    press(3);
    EXPECT_TRUE(sendPendingNow().empty()) << "nothing goes out before the first tick";
    ASSERT_TRUE(fader->isFading());

    std::vector<Traffic> ticks;
    for (int i = 0; i < 80; ++i) ticks.push_back(tick());
    for (int i = 0; i < 80; ++i) {
        ASSERT_EQ(ticks[i].values.size(), 1u) << "tick " << i + 1;
        EXPECT_EQ(ticks[i].values[0].address, kAddress);
        EXPECT_NEAR(ticks[i].values[0].value, 100.0f * static_cast<float>(i + 1) * 25.0f / 2000.0f, 1e-4f)
            << "tick " << i + 1;
    }
    EXPECT_EQ(ticks[0].values[0].value, 1.25f);    // 25 ms
    EXPECT_EQ(ticks[19].values[0].value, 25.0f);   // 500 ms
    EXPECT_EQ(ticks[39].values[0].value, 50.0f);   // 1000 ms
    EXPECT_LT(ticks[78].values[0].value, 100.0f);  // 1975 ms
    EXPECT_EQ(ticks[79].values[0].value, 100.0f);  // 2000 ms: exactly the target

    EXPECT_EQ(ticks[0].lights, faderColumn(3, 1, 0, 0));
    EXPECT_EQ(ticks[39].lights, faderColumn(3, 1, 1, 0));
    EXPECT_EQ(ticks[79].lights, faderColumn(3, 1, 1, 1));

    EXPECT_FALSE(fader->isFading());
    EXPECT_EQ(fader->currentValue(), 100.0f);
    EXPECT_TRUE(ticksFor(500ms).empty()) << "no timer after the last tick";
}

TEST_F(VTVerticalFaderTest, LateTickSendsTheLevelOfTheTimeActuallyElapsed) {
    press(3);
    const auto late = tick(100ms);  // three ticks missed
    EXPECT_EQ(late.values, (std::vector<SentValue>{{kAddress, 5.0f}}));
    const auto last = tick(1900ms);
    EXPECT_EQ(last.values, (std::vector<SentValue>{{kAddress, 100.0f}}));
    EXPECT_FALSE(fader->isFading());
}

TEST_F(VTVerticalFaderTest, ReleaseFinishesTheRestTenTimesFaster) {
    report(100.0f);
    press(1);
    const auto held = ticksFor(500ms);
    ASSERT_FALSE(held.values.empty());
    EXPECT_EQ(held.values.back().value, 75.0f);

    release(1);
    EXPECT_EQ(VTVerticalFader::fadeDuration(75.0f, 0.0f, 200.0f), 150.0f);
    const auto released = ticksFor(125ms);
    EXPECT_EQ(released.values.size(), 5u);
    EXPECT_TRUE(fader->isFading()) << "150 ms have not passed yet";
    for (std::size_t i = 1; i < released.values.size(); ++i) {
        EXPECT_LT(released.values[i].value, released.values[i - 1].value);
    }
    const auto rest = levelsUntilIdle(2);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back(), 0.0f);
    EXPECT_FALSE(fader->isFading()) << "the release's fade ends by the first tick at or after 150 ms";
}

struct SameLevelCase {
    const char* name;
    float start;
    std::uint32_t row;
    float target;
};

class VTVerticalFaderSameLevelTest : public VTVerticalFaderTest,
                                     public ::testing::WithParamInterface<SameLevelCase> {};

TEST_P(VTVerticalFaderSameLevelTest, PressAndReleaseWithinOneOfTheLevelEndOnTheFirstTick) {
    const auto& c = GetParam();
    report(c.start);
    press(c.row);
    EXPECT_EQ(tick().values, (std::vector<SentValue>{{kAddress, c.target}}));
    EXPECT_FALSE(fader->isFading());
    release(c.row);
    EXPECT_EQ(tick().values, (std::vector<SentValue>{{kAddress, c.target}}));
    EXPECT_FALSE(fader->isFading());
    EXPECT_TRUE(ticksFor(100ms).empty());
}

INSTANTIATE_TEST_SUITE_P(Levels, VTVerticalFaderSameLevelTest,
                         ::testing::Values(SameLevelCase{"FreshFaderOnItsBottomRow", 0.0f, 1, 0.0f},
                                           SameLevelCase{"Middle", 50.0f, 2, 50.0f},
                                           SameLevelCase{"HalfBelowMiddle", 49.5f, 2, 50.0f},
                                           SameLevelCase{"AlmostOneAboveTop", 100.9f, 3, 100.0f}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VTVerticalFaderTest, SecondPressRestartsFromTheLevelReachedWithItsOwnDuration) {
    press(3);
    const auto first = ticksFor(500ms);
    ASSERT_EQ(first.values.back().value, 25.0f);

    press(2);  // toward 50 from 25: 25 x 2000 / 100 = 500 ms
    EXPECT_EQ(VTVerticalFader::fadeDuration(25.0f, 50.0f, 2000.0f), 500.0f);
    const auto next = tick();
    ASSERT_EQ(next.values.size(), 1u) << "the first fade no longer ticks";
    EXPECT_FLOAT_EQ(next.values[0].value, 26.25f);

    const auto rest = ticksFor(475ms);
    ASSERT_EQ(rest.values.size(), 19u);
    EXPECT_EQ(rest.values.back().value, 50.0f);
    EXPECT_FALSE(fader->isFading());
}

TEST_F(VTVerticalFaderTest, WithTwoCellsHeldTheLastReleaseDecidesWhereTheFaderEnds) {
    press(3);
    ticksFor(100ms);
    press(2);
    ticksFor(100ms);
    release(3);  // fast toward 100
    const auto towardTop = ticksFor(50ms);
    ASSERT_EQ(towardTop.values.size(), 2u);
    EXPECT_GT(towardTop.values[1].value, towardTop.values[0].value);
    release(2);  // fast toward 50
    const auto rest = levelsUntilIdle(20);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back(), 50.0f);
    EXPECT_EQ(fader->currentValue(), 50.0f);
}

struct DrawCase {
    const char* name;
    float level;
    std::int32_t bottom, middle, top;
};

class VTVerticalFaderDrawTest : public VTVerticalFaderTest, public ::testing::WithParamInterface<DrawCase> {};

TEST_P(VTVerticalFaderDrawTest, ReportedLevelIsStoredAndDrawnAsARisingBarWithoutBeingSentBack) {
    const auto& c = GetParam();
    fader->processMessageWithAddressAndValue(kAddress, c.level);
    const auto sent = flush();
    EXPECT_TRUE(sent.values.empty());
    EXPECT_EQ(sent.lights, faderColumn(3, c.bottom, c.middle, c.top));
    if (std::isnan(c.level)) {
        EXPECT_TRUE(std::isnan(fader->currentValue()));
    } else {
        EXPECT_EQ(fader->currentValue(), c.level);
    }
    EXPECT_FALSE(fader->isFading());
}

INSTANTIATE_TEST_SUITE_P(
    Levels, VTVerticalFaderDrawTest,
    ::testing::Values(DrawCase{"Negative", -1.0f, 0, 0, 0}, DrawCase{"Zero", 0.0f, 1, 0, 0},
                      DrawCase{"JustBelowHalf", 49.99f, 1, 0, 0}, DrawCase{"Half", 50.0f, 1, 1, 0},
                      DrawCase{"JustBelowFull", 99.99f, 1, 1, 0}, DrawCase{"Full", 100.0f, 1, 1, 1},
                      DrawCase{"AboveFull", 250.0f, 1, 1, 1}, DrawCase{"Infinite", kInf, 1, 1, 1},
                      DrawCase{"MinusInfinite", -kInf, 0, 0, 0}, DrawCase{"NotANumber", kNaN, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VTVerticalFaderTest, NextFadeStartsFromTheReportedLevel) {
    report(80.0f);
    press(1);  // toward 0 from 80: 1600 ms
    const auto first = tick();
    ASSERT_EQ(first.values.size(), 1u);
    EXPECT_FLOAT_EQ(first.values[0].value, 78.75f);
}

TEST_F(VTVerticalFaderTest, LevelReportedDuringAFadeIsDrawnButTheFadeGoesOnFromItsOwnStart) {
    press(3);
    ticksFor(100ms);
    fader->processMessageWithAddressAndValue(kAddress, 90.0f);
    const auto drawn = sendPendingNow();
    EXPECT_TRUE(drawn.values.empty());
    EXPECT_EQ(drawn.lights, faderColumn(3, 1, 1, 0));
    EXPECT_EQ(fader->currentValue(), 90.0f);

    const auto next = tick();  // 125 ms into the fade from 0 to 100
    ASSERT_EQ(next.values.size(), 1u);
    EXPECT_FLOAT_EQ(next.values[0].value, 6.25f);
}

TEST_F(VTVerticalFaderTest, DisablingMidFadeDarkensTheColumnButTheFadeRunsToItsEnd) {
    press(3);
    ticksFor(100ms);
    fader->setEnabled(false);
    const auto dark = sendPendingNow();
    EXPECT_EQ(dark.lights, faderColumn(3, 0, 0, 0));
    EXPECT_TRUE(dark.values.empty());

    const auto next = tick();
    ASSERT_EQ(next.values.size(), 1u);
    EXPECT_FLOAT_EQ(next.values[0].value, 6.25f);
    EXPECT_EQ(next.lights, faderColumn(3, 1, 0, 0));

    const auto rest = ticksFor(1875ms);
    EXPECT_EQ(rest.values.back().value, 100.0f);
    EXPECT_FALSE(fader->isFading());
}

class VTVerticalFaderImmediateTest : public VTVerticalFaderTest, public ::testing::WithParamInterface<float> {};

TEST_P(VTVerticalFaderImmediateTest, TimeThatIsNotPositiveJumpsAtOnceAndStopsTheRunningFade) {
    press(3);
    tick();
    fader->changeToWithTime(60.0f, GetParam());
    const auto sent = sendPendingNow();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kAddress, 60.0f}}));
    EXPECT_EQ(sent.lights, faderColumn(3, 1, 1, 0));
    EXPECT_FALSE(fader->isFading());
    EXPECT_TRUE(ticksFor(100ms).empty());
}

INSTANTIATE_TEST_SUITE_P(Times, VTVerticalFaderImmediateTest, ::testing::Values(0.0f, -5.0f, kNaN));

TEST_F(VTVerticalFaderTest, SeveralFadersFadeAtOnceEachOnItsOwnTimer) {
    auto other = VTVerticalFader::controlWithRectAndAddress(VTRect{{6, 1}, {1, 3}}, "/stagevue/test/other");
    press(3);
    other->processPressAtXAndY(6, 2);
    const auto sent = tick();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kAddress, 1.25f}, {"/stagevue/test/other", 1.25f}}));
    EXPECT_EQ(sent.lights.size(), 6u);
}

// A level reported far outside 0 to 100 leaves a difference with no 32-bit
// integer value; such a fade takes the full-scale time and ends on the target.
struct FarLevelCase {
    const char* name;
    float start;
    std::uint32_t row;
    float target;
};

class VTVerticalFaderFarLevelTest : public VTVerticalFaderTest,
                                    public ::testing::WithParamInterface<FarLevelCase> {};

TEST_P(VTVerticalFaderFarLevelTest, FadeFromALevelBeyondInt32TakesTheFullScaleTimeAndEndsOnTheTarget) {
    const auto& c = GetParam();
    EXPECT_EQ(VTVerticalFader::fadeDuration(c.start, c.target, 2000.0f), 2000.0f);
    EXPECT_EQ(VTVerticalFader::fadeDuration(c.start, c.target, 200.0f), 200.0f);

    report(c.start);
    press(c.row);
    ticksFor(1975ms);
    EXPECT_TRUE(fader->isFading());
    const auto last = tick();  // 2000 ms
    EXPECT_EQ(last.values, (std::vector<SentValue>{{kAddress, c.target}}));
    EXPECT_FALSE(fader->isFading());
    EXPECT_TRUE(ticksFor(100ms).empty());
}

INSTANTIATE_TEST_SUITE_P(Levels, VTVerticalFaderFarLevelTest,
                         ::testing::Values(FarLevelCase{"Huge", 1e12f, 3, 100.0f},
                                           FarLevelCase{"HugeNegative", -1e12f, 1, 0.0f},
                                           FarLevelCase{"Infinite", kInf, 3, 100.0f},
                                           FarLevelCase{"MinusInfinite", -kInf, 2, 50.0f},
                                           FarLevelCase{"NotANumber", kNaN, 3, 100.0f},
                                           FarLevelCase{"DifferenceOfMinusTwoToThe31", 2147483648.0f, 1, 0.0f}),
                         [](const auto& info) { return std::string(info.param.name); });

struct DurationCase {
    const char* name;
    float start, target, time, duration;
};

class VTVerticalFaderDurationTest : public ::testing::TestWithParam<DurationCase> {};

TEST_P(VTVerticalFaderDurationTest, DurationScalesTheTimeByTheWholeLevelDifference) {
    const auto& c = GetParam();
    EXPECT_EQ(VTVerticalFader::fadeDuration(c.start, c.target, c.time), c.duration);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, VTVerticalFaderDurationTest,
    ::testing::Values(DurationCase{"FullScaleHeld", 0, 100, 2000, 2000}, DurationCase{"HalfScaleHeld", 0, 50, 2000, 1000},
                      DurationCase{"DownwardRelease", 75, 0, 200, 150},
                      DurationCase{"FractionTruncatedTowardZero", 0, 50.9f, 2000, 1000},
                      DurationCase{"LessThanOneUp", 50, 50.9f, 2000, 0},
                      DurationCase{"LessThanOneDown", 50, 49.1f, 2000, 0},
                      DurationCase{"NegativeFractionTruncatedTowardZero", 0, -50.9f, 2000, 1000},
                      DurationCase{"LargeDifferenceWithinInt32", 1e6f, 0, 200, 2e6f}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velto::test

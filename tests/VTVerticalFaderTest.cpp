// The vertical fader: when its fade ticks, the levels it sends and the bar it
// draws, and fades that start from levels far outside 0 to 100.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <tuple>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

constexpr const char* kAddress = "/stagevue/test/fader";
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<SentValue> sent(float level) { return {{kAddress, level}}; }

class VTVerticalFaderTest : public BridgeFixture {
protected:
    // Column 3, grid rows 1 to 3 (levels 0, 50, 100).
    std::unique_ptr<VTVerticalFader> fader =
        VTVerticalFader::controlWithRectAndAddress(VTRect{{3, 1}, {1, 3}}, kAddress, loop);

    void press(std::uint32_t row) { fader->processPressAtXAndY(3, row); }
    void release(std::uint32_t row) { fader->processReleaseAtXAndY(3, row); }
    void report(float level) {
        fader->processMessageWithAddressAndValue(kAddress, level);
        collect();
    }
    std::vector<float> levelsFor(Duration total) {
        std::vector<float> levels;
        for (const auto& value : ticksFor(total).values) levels.push_back(value.value);
        return levels;
    }
};

TEST_F(VTVerticalFaderTest, TicksEvery25msAndRisesLinearlyToTopAt2s) {
    press(3);
    int ticks = 0;
    for (int ms = 1; ms <= 2100; ++ms) {  // milliseconds after the press
        const auto step = tick(1ms);
        if (step.values.empty()) continue;
        ++ticks;
        EXPECT_EQ(ms % 25, 0) << ms;
        ASSERT_EQ(step.values.size(), 1u) << ms;
        const float level = step.values[0].value;
        EXPECT_NEAR(level, static_cast<float>(ms) / 20.0f, 1e-4f) << ms;
        EXPECT_EQ(step.lights, faderColumn(3, 1, level >= 50 ? 1 : 0, level >= 100 ? 1 : 0));
    }
    EXPECT_EQ(ticks, 80) << "a tick every 25 ms, the last at 2000 ms";
    EXPECT_EQ(fader->currentValue(), 100.0f) << "exactly";
    EXPECT_FALSE(fader->isFading());
    press(1);  // late ticks send the level of the time elapsed
    EXPECT_EQ(tick(100ms).values, sent(95.0f)) << "three ticks missed";
    EXPECT_EQ(tick(1910ms).values, sent(0.0f)) << "the first tick at or after 2000 ms ends it";
    EXPECT_FALSE(fader->isFading());
}

TEST_F(VTVerticalFaderTest, ReleaseIsTenTimesFasterAndAPressRestartsFromTheLevel) {
    report(100.0f);
    press(1);
    EXPECT_EQ(levelsFor(500ms).back(), 75.0f);
    release(1);  // 75 at 200 ms for 100: 150 ms, six ticks
    const auto released = levelsFor(150ms);
    ASSERT_EQ(released.size(), 6u);
    EXPECT_FLOAT_EQ(released[4], 12.5f);
    EXPECT_EQ(released[5], 0.0f);
    EXPECT_TRUE(ticksFor(500ms).empty()) << "no timer after the last tick";
    press(2);  // 0 toward 50: 1000 ms
    EXPECT_EQ(levelsFor(500ms).back(), 25.0f);
    press(3);  // 25 toward 100: 1500 ms
    const auto restarted = levelsFor(1500ms);
    ASSERT_EQ(restarted.size(), 60u) << "the first fade no longer ticks";
    EXPECT_FLOAT_EQ(restarted[0], 26.25f);
    EXPECT_EQ(restarted.back(), 100.0f);
}

TEST_F(VTVerticalFaderTest, FadeLevelsAreTheSameBitsOnEveryTarget) {
    // 21.5 toward 100 in 1560 ms, third tick: 100 p + (1 - p) 21.5 with
    // p = 0.0480769239 is 25.2740402; a fused multiply-add gives 25.2740383.
    report(21.5f);
    press(3);
    const auto levels = levelsFor(75ms);
    ASSERT_EQ(levels.size(), 3u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(levels[2]), 0x41ca313cu);
}

TEST_F(VTVerticalFaderTest, ReportIsKeptAndDrawnAsARisingBarNotSentBack) {
    const std::pair<float, std::vector<SentLight>> cases[] = {
        {-1.0f, faderColumn(3, 0, 0, 0)},  {0.0f, faderColumn(3, 1, 0, 0)},
        {49.99f, faderColumn(3, 1, 0, 0)}, {50.0f, faderColumn(3, 1, 1, 0)},
        {100.0f, faderColumn(3, 1, 1, 1)}, {kInf, faderColumn(3, 1, 1, 1)},
        {-kInf, faderColumn(3, 0, 0, 0)},  {kNaN, faderColumn(3, 0, 0, 0)}};
    for (const auto& [level, lights] : cases) {
        fader->processMessageWithAddressAndValue(kAddress, level);
        const auto drawn = tick();
        EXPECT_EQ(drawn.lights, lights) << level;
        EXPECT_TRUE(fader->currentValue() == level || std::isnan(level)) << level;
    }
}

TEST_F(VTVerticalFaderTest, FadeGoesOnFromItsStartThroughReportsAndDisabling) {
    press(3);
    ticksFor(100ms);
    fader->processMessageWithAddressAndValue(kAddress, 90.0f);
    fader->setEnabled(false);
    const auto between = collect();
    EXPECT_TRUE(between.values.empty());
    EXPECT_EQ(between.lights, joined({faderColumn(3, 1, 1, 0), faderColumn(3, 0, 0, 0)}));
    const auto next = tick();  // 125 ms into the fade from 0 to 100
    EXPECT_EQ(next.values, sent(6.25f));
    EXPECT_EQ(next.lights, faderColumn(3, 1, 0, 0));
    EXPECT_EQ(levelsFor(1875ms).back(), 100.0f);
}

// A level difference is truncated toward zero, so within one of the target the
// first tick ends the fade; one with no 32-bit integer value takes the
// full-scale time (200 ms on release); a large one is not cut to full scale.
TEST_F(VTVerticalFaderTest, FadeTimeComesFromTheTruncatedLevelDifference) {
    // Start, row released, last level sent, ticks sent (2 ms a level on release).
    const std::tuple<float, std::uint32_t, float, std::size_t> cases[] = {
        {0.0f, 1, 0.0f, 1},  {49.5f, 2, 50.0f, 1}, {100.9f, 3, 100.0f, 1},
        {37.6f, 1, 0.0f, 3}, {-37.6f, 1, 0.0f, 3}, {1000.0f, 1, 875.0f, 10},
        {1e12f, 1, 0.0f, 8}, {-1e12f, 1, 0.0f, 8}, {kInf, 1, 0.0f, 8},
        {-kInf, 1, 0.0f, 8}, {kNaN, 1, 0.0f, 8},   {2147483648.0f, 1, 0.0f, 8}};
    for (const auto& [start, row, target, ticks] : cases) {
        SCOPED_TRACE(start);
        report(start);
        release(row);
        const auto levels = levelsFor(250ms);
        ASSERT_EQ(levels.size(), ticks);
        EXPECT_EQ(levels.back(), target);
    }
}

}  // namespace
}  // namespace velto::test

// The vertical fader: when its fade ticks, the levels it sends and the bar it
// draws, and fades that start from levels far outside 0 to 100.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

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
};

TEST_F(VTVerticalFaderTest, TicksEvery25msAndRisesLinearlyToTopAt2s) {
    press(3);
    std::vector<int> sentAt;  // milliseconds after the press
    for (int ms = 1; ms <= 2100; ++ms) {
        const auto step = tick(1ms);
        if (step.values.empty()) continue;
        sentAt.push_back(ms);
        ASSERT_EQ(step.values.size(), 1u) << ms;
        EXPECT_NEAR(step.values[0].value, static_cast<float>(ms) / 20.0f, 1e-4f) << ms;
        const float level = step.values[0].value;
        EXPECT_EQ(step.lights, faderColumn(3, 1, level >= 50 ? 1 : 0, level >= 100 ? 1 : 0));
        if (ms == 25 || ms == 500 || ms == 2000) {
            EXPECT_EQ(level, static_cast<float>(ms) / 20.0f) << "exactly";
        }
    }
    ASSERT_EQ(sentAt.size(), 80u) << "a tick every 25 ms, the last at 2000 ms";
    EXPECT_EQ(std::vector<int>(sentAt.begin(), sentAt.begin() + 3), (std::vector<int>{25, 50, 75}));
    EXPECT_EQ(sentAt.back(), 2000);
    EXPECT_EQ(fader->currentValue(), 100.0f);
    EXPECT_FALSE(fader->isFading());
}

TEST_F(VTVerticalFaderTest, LateTicksSendTheLevelOfTheTimeElapsed) {
    press(3);
    EXPECT_EQ(tick(100ms).values, sent(5.0f)) << "three ticks missed";
    EXPECT_EQ(tick(1910ms).values, sent(100.0f)) << "the first tick at or after 2000 ms ends it";
    EXPECT_FALSE(fader->isFading());
}

TEST_F(VTVerticalFaderTest, ReleaseFinishesTenTimesFasterAndEndsOnTarget) {
    report(100.0f);
    press(1);
    EXPECT_EQ(ticksFor(500ms).values.back().value, 75.0f);
    release(1);  // 75 at 200 ms for 100: 150 ms, six ticks
    const auto rest = ticksFor(150ms).values;
    ASSERT_EQ(rest.size(), 6u);
    EXPECT_FLOAT_EQ(rest[4].value, 12.5f);
    EXPECT_EQ(rest[5].value, 0.0f);
    EXPECT_FALSE(fader->isFading());
    EXPECT_TRUE(ticksFor(500ms).empty()) << "no timer after the last tick";
}

TEST_F(VTVerticalFaderTest, SecondPressRestartsFromTheLevelReached) {
    press(3);
    ASSERT_EQ(ticksFor(500ms).values.back().value, 25.0f);
    press(2);  // 25 toward 50: 500 ms
    const auto next = tick();
    ASSERT_EQ(next.values.size(), 1u) << "the first fade no longer ticks";
    EXPECT_FLOAT_EQ(next.values[0].value, 26.25f);
    const auto rest = ticksFor(475ms).values;
    ASSERT_EQ(rest.size(), 19u);
    EXPECT_EQ(rest.back().value, 50.0f);
    EXPECT_FALSE(fader->isFading());
}

TEST_F(VTVerticalFaderTest, FadeLevelsAreTheSameBitsOnEveryTarget) {
    // 21.5 toward 100 in 1560 ms, third tick: 100 p + (1 - p) 21.5 with
    // p = 0.0480769239 is 25.2740402; a fused multiply-add gives 25.2740383.
    report(21.5f);
    press(3);
    const auto values = ticksFor(75ms).values;
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(values[2].value), 0x41ca313cu);
}

TEST_F(VTVerticalFaderTest, PressWithinOneOfTheLevelEndsOnTheFirstTick) {
    const struct {
        float start;
        std::uint32_t row;
        float target;
    } cases[] = {{0.0f, 1, 0.0f}, {49.5f, 2, 50.0f}, {100.9f, 3, 100.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        report(c.start);
        press(c.row);
        EXPECT_EQ(tick().values, sent(c.target));
        release(c.row);
        EXPECT_EQ(tick().values, sent(c.target));
        EXPECT_FALSE(fader->isFading());
    }
}

TEST_F(VTVerticalFaderTest, ReportIsKeptAndDrawnAsARisingBarNotSentBack) {
    const struct {
        float level;
        std::int32_t bottom, middle, top;
    } cases[] = {{-1.0f, 0, 0, 0},  {0.0f, 1, 0, 0}, {49.99f, 1, 0, 0}, {50.0f, 1, 1, 0},
                 {100.0f, 1, 1, 1}, {kInf, 1, 1, 1}, {-kInf, 0, 0, 0},  {kNaN, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        fader->processMessageWithAddressAndValue(kAddress, c.level);
        const auto drawn = flush();
        EXPECT_TRUE(drawn.values.empty());
        EXPECT_EQ(drawn.lights, faderColumn(3, c.bottom, c.middle, c.top));
        EXPECT_TRUE(fader->currentValue() == c.level || std::isnan(c.level));
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
    EXPECT_EQ(ticksFor(1875ms).values.back().value, 100.0f);
}

// A level difference with no 32-bit integer value takes the full-scale time.
TEST_F(VTVerticalFaderTest, FadeFromBeyondInt32TakesTheFullScaleTime) {
    for (const float far : {1e12f, -1e12f, kInf, -kInf, kNaN, 2147483648.0f}) {
        SCOPED_TRACE(far);
        report(far);
        release(1);
        ticksFor(175ms);
        EXPECT_TRUE(fader->isFading());
        EXPECT_EQ(tick().values, sent(0.0f));
        EXPECT_FALSE(fader->isFading());
    }
}

TEST(VTVerticalFaderDurationTest, ScalesByTheDifferenceTruncatedTowardZero) {
    EXPECT_EQ(VTVerticalFader::fadeDuration(0.0f, 50.9f, 2000.0f), 1000.0f);
    EXPECT_EQ(VTVerticalFader::fadeDuration(0.0f, -50.9f, 2000.0f), 1000.0f);
    EXPECT_EQ(VTVerticalFader::fadeDuration(50.0f, 49.1f, 2000.0f), 0.0f);
    EXPECT_EQ(VTVerticalFader::fadeDuration(1e6f, 0.0f, 200.0f), 2e6f);
}

}  // namespace
}  // namespace velto::test

// A soak of the whole bridge in process, on a manual clock: faders and sliders
// pressed and released at random, with reports and layer counts from the video
// app, then a last press and release on every fader. Every fade that ends must
// end exactly on its target, and afterwards nothing may be left pending. The
// run is seeded, the same each time. (velto-latency's soak mode runs the real
// executable for minutes, on the wire.)

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "support/BridgeFixture.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

constexpr std::array<const char*, 8> kFaderAddresses{
    "/stagevue/layer/opacity/4",     "/stagevue/layer/opacity/3",
    "/stagevue/layer/opacity/2",     "/stagevue/layer/opacity/1",
    "/stagevue/layer/media/speed/4", "/stagevue/layer/media/speed/3",
    "/stagevue/layer/media/speed/2", "/stagevue/layer/media/speed/1"};  // columns 0 to 7

class SoakTest : public test::BridgeFixture, public ::testing::WithParamInterface<std::uint32_t> {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        for (std::size_t column = 0; column < 8; ++column)
            ASSERT_NE(faders[column] = faderWithAddress(kFaderAddresses[column]), nullptr);
    }

    std::int32_t random(std::uint32_t below) { return static_cast<std::int32_t>(rng() % below); }

    // A press or release on a fader cell (the grid's rows 4 to 6 from the top:
    // levels 100, 50, 0); the fader takes it only while enabled.
    void touchFader(std::int32_t column, std::int32_t row, std::int32_t state) {
        const auto i = static_cast<std::size_t>(column);
        if (faders[i]->enabled()) targets[i] = static_cast<float>(6 - row) * 50.0f;
        deliver(test::pressBytes(column, row, state));
    }

    void randomEvent() {
        const auto kind = random(100);
        const auto column = random(8);
        if (kind < 60) {
            touchFader(column, 4 + random(3), kind < 35 ? 1 : 0);
        } else if (kind < 75) {  // a slider
            deliver(test::pressBytes(column, random(4), random(2)));
        } else if (kind < 90) {  // a report of a fader's value
            const float value = static_cast<float>(random(1001)) / 10.0f;
            deliver(test::messageBytes(kFaderAddresses[random(8)], {test::floatArg(value)}));
        } else if (kind < 95) {
            deliver(test::messageBytes("/stagevue/layerNumber", {test::intArg(random(6))}));
        }
    }

    // 5 ms of the bridge's time; checks every fade that ended in it.
    void step() {
        std::array<bool, 8> wasFading{};
        for (std::size_t column = 0; column < 8; ++column)
            wasFading[column] = faders[column]->isFading();
        clock.advance(5ms);
        loop.runOnce();
        for (std::size_t column = 0; column < 8; ++column) {
            if (wasFading[column] && !faders[column]->isFading()) {
                ASSERT_TRUE(targets[column].has_value());
                EXPECT_EQ(faders[column]->currentValue(), *targets[column])
                    << kFaderAddresses[column] << " ended a fade off its target";
                ++fadesEnded;
            }
        }
        for (const auto& value : collect().values) lastSent[value.address] = value.value;
    }

    std::mt19937 rng{GetParam()};
    std::array<VTVerticalFader*, 8> faders{};
    std::array<std::optional<float>, 8> targets{};  // the level of the last press or release taken
    std::map<std::string, float> lastSent;
    int fadesEnded = 0;
};

TEST_P(SoakTest, EveryFadeEndsOnItsTarget) {
    for (int i = 0; i < 4000; ++i) {  // 20 s of the bridge's time
        randomEvent();
        if (random(4) == 0) randomEvent();
        step();
        if (HasFatalFailure()) return;
    }
    // The end: every layer back, a last press and release on each fader, 5 s to settle.
    deliver(test::messageBytes("/stagevue/layerNumber", {test::intArg(4)}));
    for (std::int32_t column = 0; column < 8; ++column) {
        const auto row = 4 + random(3);
        touchFader(column, row, 1);
        touchFader(column, row, 0);
    }
    for (int i = 0; i < 1000 && !HasFatalFailure(); ++i) step();
    for (std::size_t column = 0; column < 8; ++column) {
        SCOPED_TRACE(kFaderAddresses[column]);
        EXPECT_FALSE(faders[column]->isFading());
        EXPECT_EQ(faders[column]->currentValue(), *targets[column]);
        EXPECT_EQ(lastSent[kFaderAddresses[column]], *targets[column]);
    }
    EXPECT_GT(fadesEnded, 100);
}

INSTANTIATE_TEST_SUITE_P(Seeds, SoakTest, ::testing::Values(1u, 2u, 3u),
                         [](const auto& info) { return "seed" + std::to_string(info.param); });

}  // namespace
}  // namespace velto

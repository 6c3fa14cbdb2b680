#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "VideoState.h"

namespace velto::tools {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Kind = VideoEvent::Kind;

std::vector<HJOSCArgument> oneFloat(float value) { return {HJOSCArgument::withFloat(value)}; }

// A report as text, for comparing lists: "/stagevue/layerNumber i 4".
std::string text(const VideoReport& report) {
    const HJOSCArgument& value = report.value;
    if (value.type() == 'i') return report.address + " i " + std::to_string(value.intValue());
    return report.address + " f " + std::to_string(value.floatValue());
}

std::vector<std::string> texts(const std::vector<VideoReport>& reports) {
    std::vector<std::string> lines;
    for (const VideoReport& report : reports) lines.push_back(text(report));
    return lines;
}

class VideoStateTest : public ::testing::Test {
  protected:
    VideoState video;

    VideoEvent receive(const std::string& address, float value) {
        return video.receiveMessage(address, oneFloat(value));
    }
};

TEST_F(VideoStateTest, StartsWithFourLayersFullyOpaquePlayingAtNormalSpeedFromTheStart) {
    EXPECT_EQ(video.layerCount(), 4);
    EXPECT_TRUE(video.isPlaying());
    for (int number = 1; number <= 4; ++number) {
        EXPECT_EQ(video.layer(number).opacity, 100);
        EXPECT_EQ(video.layer(number).speed, 100);
        EXPECT_EQ(video.layer(number).position, 0);
    }
}

TEST(VideoStateLayers, CountIsLimitedToZeroToFour) {
    EXPECT_EQ(VideoState(7).layerCount(), 4);
    EXPECT_EQ(VideoState(-1).layerCount(), 0);
    VideoState video(2);
    EXPECT_FALSE(video.hasLayer(3));
    EXPECT_TRUE(video.setLayerCount(3));
    EXPECT_FALSE(video.setLayerCount(3));
    EXPECT_TRUE(video.hasLayer(3));
    EXPECT_TRUE(video.setLayerCount(9));
    EXPECT_EQ(video.layerCount(), 4);
}

struct TakenValue {
    const char* name;
    std::string address;
    float sent;
    Kind kind;
    int layer;
    float taken;
};

class VideoStateTakesTest : public ::testing::TestWithParam<TakenValue> {};

TEST_P(VideoStateTakesTest, ValueIsTakenWithinItsRange) {
    VideoState video;
    const TakenValue& expected = GetParam();
    const VideoEvent event = video.receiveMessage(expected.address, oneFloat(expected.sent));
    EXPECT_EQ(event.kind, expected.kind);
    EXPECT_EQ(event.layer, expected.layer);
    EXPECT_FLOAT_EQ(event.value, expected.taken);
    const VideoLayer& layer = video.layer(expected.layer);
    const double held = expected.kind == Kind::opacity ? layer.opacity
                        : expected.kind == Kind::speed ? layer.speed
                                                       : video.reportedPosition(expected.layer);
    EXPECT_FLOAT_EQ(static_cast<float>(held), expected.taken);
}

INSTANTIATE_TEST_SUITE_P(
    Values, VideoStateTakesTest,
    ::testing::Values(
        TakenValue{"opacity", "/stagevue/layer/opacity/1", 50, Kind::opacity, 1, 50},
        TakenValue{"opacityAbove100", "/stagevue/layer/opacity/2", 150, Kind::opacity, 2, 100},
        TakenValue{"opacityBelow0", "/stagevue/layer/opacity/2", -5, Kind::opacity, 2, 0},
        TakenValue{"speed", "/stagevue/layer/media/speed/3", 25, Kind::speed, 3, 25},
        TakenValue{"position", "/stagevue/layer/media/time/4", 0.375f, Kind::position, 4, 0.375f},
        TakenValue{"positionOneIsTheStart", "/stagevue/layer/media/time/4", 1, Kind::position, 4,
                   0},
        TakenValue{"positionBelow0", "/stagevue/layer/media/time/1", -0.5f, Kind::position, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VideoStateTest, IntegerValueIsTakenAndOnlyTheLastArgumentCounts) {
    const VideoEvent event = video.receiveMessage(
        "/stagevue/layer/opacity/1", {HJOSCArgument::withFloat(10), HJOSCArgument::withInt(30)});
    EXPECT_EQ(event.kind, Kind::opacity);
    EXPECT_EQ(video.layer(1).opacity, 30);
}

struct IgnoredMessage {
    const char* name;
    std::string address;
    std::vector<HJOSCArgument> arguments;
};

class VideoStateIgnoresTest : public ::testing::TestWithParam<IgnoredMessage> {};

TEST_P(VideoStateIgnoresTest, MessageChangesNothing) {
    VideoState video(2);
    const VideoEvent event = video.receiveMessage(GetParam().address, GetParam().arguments);
    EXPECT_EQ(event.kind, Kind::ignored);
    for (int number = 1; number <= VideoState::kMaxLayers; ++number) {
        EXPECT_EQ(video.layer(number).opacity, 100);
        EXPECT_EQ(video.layer(number).speed, 100);
        EXPECT_EQ(video.layer(number).position, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, VideoStateIgnoresTest,
    ::testing::Values(
        IgnoredMessage{"layerThatDoesNotExist", "/stagevue/layer/opacity/3", oneFloat(5)},
        IgnoredMessage{"layer5", "/stagevue/layer/opacity/5", oneFloat(5)},
        IgnoredMessage{"layer0", "/stagevue/layer/media/speed/0", oneFloat(5)},
        IgnoredMessage{"noLayerNumber", "/stagevue/layer/opacity/", oneFloat(5)},
        IgnoredMessage{"moreAfterTheNumber", "/stagevue/layer/opacity/1/x", oneFloat(5)},
        IgnoredMessage{"negativeLayer", "/stagevue/layer/opacity/-1", oneFloat(5)},
        IgnoredMessage{"noArguments", "/stagevue/layer/opacity/1", {}},
        IgnoredMessage{"text", "/stagevue/layer/opacity/1", {HJOSCArgument::withString("50")}},
        IgnoredMessage{"notANumber", "/stagevue/layer/media/time/1",
                       oneFloat(std::numeric_limits<float>::quiet_NaN())},
        IgnoredMessage{
            "layerCountFromElsewhere", "/stagevue/layerNumber", {HJOSCArgument::withInt(1)}},
        IgnoredMessage{"gridMessage", "/monome/led", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VideoStateTest, PingIsRecognisedAndChangesNothing) {
    EXPECT_EQ(video.receiveMessage("/stagevue/ping", {}).kind, Kind::ping);
    EXPECT_EQ(video.layerCount(), 4);
}

TEST_F(VideoStateTest, NormalSpeedCrossesTheClipInTenSeconds) {
    video.advance(seconds(1));
    EXPECT_NEAR(video.layer(1).position, 0.1, 1e-9);
    video.advance(seconds(4));
    EXPECT_NEAR(video.layer(4).position, 0.5, 1e-9);
}

TEST_F(VideoStateTest, PositionAdvancesWithItsLayersSpeed) {
    receive("/stagevue/layer/media/speed/1", 50);
    receive("/stagevue/layer/media/speed/2", 0);
    receive("/stagevue/layer/media/speed/3", 25);
    video.advance(seconds(2));
    EXPECT_NEAR(video.layer(1).position, 0.1, 1e-9);
    EXPECT_EQ(video.layer(2).position, 0);
    EXPECT_NEAR(video.layer(3).position, 0.05, 1e-9);
    EXPECT_NEAR(video.layer(4).position, 0.2, 1e-9);
}

TEST_F(VideoStateTest, PositionWrapsAtOne) {
    receive("/stagevue/layer/media/time/1", 0.875f);
    video.advance(milliseconds(2500));
    EXPECT_NEAR(video.layer(1).position, 0.125, 1e-6);
    video.advance(seconds(25));  // several times round
    EXPECT_NEAR(video.layer(1).position, 0.625, 1e-6);
}

TEST_F(VideoStateTest, SlowPlaybackStillMoves) {
    receive("/stagevue/layer/media/speed/1", 0.001f);
    for (int tick = 0; tick < 1000; ++tick) video.advance(milliseconds(100));
    EXPECT_GT(video.layer(1).position, 0);
}

TEST_F(VideoStateTest, PausedPlaybackAndMissingLayersStandStill) {
    video.setLayerCount(1);
    video.advance(seconds(1));
    EXPECT_GT(video.layer(1).position, 0);
    EXPECT_EQ(video.layer(2).position, 0);
    video.setPlaying(false);
    const double before = video.layer(1).position;
    video.advance(seconds(3));
    EXPECT_EQ(video.layer(1).position, before);
}

TEST_F(VideoStateTest, ReportedPositionStaysBelowOneJustBeforeTheWrap) {
    receive("/stagevue/layer/media/time/1", 0.5f);
    // Up to a nanosecond of playback before the end: the double lies just
    // below 1, closer to it than any float does.
    const auto toEnd =
        std::chrono::nanoseconds(static_cast<std::int64_t>(std::floor(0.5 / 0.1 * 1e9)) - 1);
    video.advance(toEnd);
    ASSERT_LT(video.layer(1).position, 1.0);
    EXPECT_LT(video.reportedPosition(1), 1.0f);
    EXPECT_LT(video.positionReports().front().value.floatValue(), 1.0f);
}

TEST_F(VideoStateTest, StateReportsGiveTheCountFirstThenTheValuesOfEachExistingLayer) {
    video.setLayerCount(2);
    receive("/stagevue/layer/opacity/2", 40);
    receive("/stagevue/layer/media/speed/1", 20);
    receive("/stagevue/layer/media/time/2", 0.25f);
    EXPECT_EQ(texts(video.stateReports()), (std::vector<std::string>{
                                               "/stagevue/layerNumber i 2",
                                               "/stagevue/layer/opacity/1 f 100.000000",
                                               "/stagevue/layer/media/speed/1 f 20.000000",
                                               "/stagevue/layer/media/time/1 f 0.000000",
                                               "/stagevue/layer/opacity/2 f 40.000000",
                                               "/stagevue/layer/media/speed/2 f 100.000000",
                                               "/stagevue/layer/media/time/2 f 0.250000",
                                           }));
}

TEST_F(VideoStateTest, WithoutLayersOnlyTheCountIsReported) {
    video.setLayerCount(0);
    EXPECT_EQ(texts(video.stateReports()), std::vector<std::string>{"/stagevue/layerNumber i 0"});
    EXPECT_TRUE(video.positionReports().empty());
}

TEST_F(VideoStateTest, PositionReportsCoverTheExistingLayers) {
    video.setLayerCount(3);
    video.advance(seconds(1));
    EXPECT_EQ(texts(video.positionReports()), (std::vector<std::string>{
                                                  "/stagevue/layer/media/time/1 f 0.100000",
                                                  "/stagevue/layer/media/time/2 f 0.100000",
                                                  "/stagevue/layer/media/time/3 f 0.100000",
                                              }));
}

}  // namespace
}  // namespace velto::tools

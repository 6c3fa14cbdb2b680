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

// Reports as text, for comparing lists: "/stagevue/layerNumber i 4".
std::vector<std::string> texts(const std::vector<VideoReport>& reports) {
    std::vector<std::string> lines;
    for (const VideoReport& report : reports) {
        const HJOSCArgument& value = report.value;
        lines.push_back(report.address + (value.type() == 'i'
                                              ? " i " + std::to_string(value.intValue())
                                              : " f " + std::to_string(value.floatValue())));
    }
    return lines;
}

class VideoStateTest : public ::testing::Test {
protected:
    VideoState video;

    VideoEvent receive(const std::string& address, float value) {
        return video.receiveMessage(address, oneFloat(value));
    }
};

TEST_F(VideoStateTest,
       StartsWithFourOpaqueLayersPlayingAtNormalSpeedAndTheCountStaysWithinZeroToFour) {
    EXPECT_EQ(video.layerCount(), 4);
    EXPECT_TRUE(video.isPlaying());
    for (int n = 1; n <= 4; ++n) {
        EXPECT_TRUE(video.layer(n).opacity == 100 && video.layer(n).speed == 100 &&
                    video.layer(n).position == 0);
    }
    EXPECT_EQ(VideoState(7).layerCount(), 4);
    EXPECT_EQ(VideoState(-1).layerCount(), 0);
    EXPECT_TRUE(video.setLayerCount(2) && !video.setLayerCount(2) && !video.hasLayer(3));
}

TEST_F(VideoStateTest, ValueIsTakenWithinItsRangeFromTheLastArgument) {
    const struct {
        std::string address;
        float sent;
        Kind kind;
        int layer;
        float taken;
    } cases[] = {
        {"/stagevue/layer/opacity/1", 50, Kind::opacity, 1, 50},
        {"/stagevue/layer/opacity/2", 150, Kind::opacity, 2, 100},
        {"/stagevue/layer/opacity/2", -5, Kind::opacity, 2, 0},
        {"/stagevue/layer/media/speed/3", 25, Kind::speed, 3, 25},
        {"/stagevue/layer/media/time/4", 0.375f, Kind::position, 4, 0.375f},
        {"/stagevue/layer/media/time/4", 1, Kind::position, 4, 0},  // the end is the start
        {"/stagevue/layer/media/time/1", -0.5f, Kind::position, 1, 0},
    };
    for (const auto& value : cases) {
        SCOPED_TRACE(value.address + " " + std::to_string(value.sent));
        const VideoEvent event = receive(value.address, value.sent);
        EXPECT_TRUE(event.kind == value.kind && event.layer == value.layer &&
                    event.value == value.taken);
        const VideoLayer& layer = video.layer(value.layer);
        const float held = value.kind == Kind::opacity ? layer.opacity
                           : value.kind == Kind::speed ? layer.speed
                                                       : video.reportedPosition(value.layer);
        EXPECT_FLOAT_EQ(held, value.taken);
    }
    video.receiveMessage("/stagevue/layer/opacity/1",
                         {HJOSCArgument::withFloat(10), HJOSCArgument::withInt(30)});
    EXPECT_EQ(video.layer(1).opacity, 30);
}

TEST(VideoStateIgnoresTest, MessageThatIsNoValueOfAnExistingLayerChangesNothing) {
    const std::vector<std::pair<std::string, std::vector<HJOSCArgument>>> messages{
        {"/stagevue/layer/opacity/3", oneFloat(5)},  // only two layers exist
        {"/stagevue/layer/opacity/5", oneFloat(5)},
        {"/stagevue/layer/media/speed/0", oneFloat(5)},
        {"/stagevue/layer/opacity/-1", oneFloat(5)},
        {"/stagevue/layer/opacity/", oneFloat(5)},
        {"/stagevue/layer/opacity/1/x", oneFloat(5)},
        {"/stagevue/layer/opacity/1", {}},
        {"/stagevue/layer/opacity/1", {HJOSCArgument::withString("50")}},
        {"/stagevue/layer/media/time/1", oneFloat(std::numeric_limits<float>::quiet_NaN())},
        {"/stagevue/layerNumber", {HJOSCArgument::withInt(1)}},  // the count is the video app's own
        {"/monome/led", {}},
    };
    VideoState video(2);
    for (const auto& [address, arguments] : messages) {
        SCOPED_TRACE(address);
        EXPECT_EQ(video.receiveMessage(address, arguments).kind, Kind::ignored);
    }
    EXPECT_EQ(video.layerCount(), 2);
    video.setLayerCount(4);
    EXPECT_EQ(texts(video.stateReports()), texts(VideoState().stateReports()))
        << "no layer changed";
    EXPECT_EQ(video.receiveMessage("/stagevue/ping", {}).kind, Kind::ping);
}

TEST_F(VideoStateTest, PositionAdvancesWithItsLayersSpeedAndWrapsAtOne) {
    receive("/stagevue/layer/media/speed/1", 50);
    receive("/stagevue/layer/media/speed/2", 0);
    receive("/stagevue/layer/media/time/3", 0.875f);
    video.advance(seconds(2));
    EXPECT_NEAR(video.layer(1).position, 0.1, 1e-9);
    EXPECT_EQ(video.layer(2).position, 0);
    EXPECT_NEAR(video.layer(3).position, 0.075, 1e-6);
    EXPECT_NEAR(video.layer(4).position, 0.2, 1e-9)
        << "normal speed crosses the clip in ten seconds";
    video.advance(seconds(25));  // several times round
    EXPECT_NEAR(video.layer(4).position, 0.7, 1e-6);
}

TEST_F(VideoStateTest, SlowPlaybackStillMovesButPausedPlaybackAndMissingLayersStandStill) {
    receive("/stagevue/layer/media/speed/1", 0.001f);
    for (int tick = 0; tick < 1000; ++tick) video.advance(milliseconds(100));
    EXPECT_GT(video.layer(1).position, 0);
    video.setLayerCount(3);
    const double layer4 = video.layer(4).position;
    video.advance(seconds(3));
    EXPECT_EQ(video.layer(4).position, layer4) << "a layer that went away";
    video.setPlaying(false);
    const double layer2 = video.layer(2).position;
    video.advance(seconds(3));
    EXPECT_EQ(video.layer(2).position, layer2) << "paused";
}

TEST_F(VideoStateTest, ReportedPositionStaysBelowOneJustBeforeTheWrap) {
    receive("/stagevue/layer/media/time/1", 0.5f);
    // A nanosecond before the end the double lies closer to 1 than any float.
    video.advance(
        std::chrono::nanoseconds(static_cast<std::int64_t>(std::floor(0.5 / 0.1 * 1e9)) - 1));
    ASSERT_LT(video.layer(1).position, 1.0);
    EXPECT_LT(video.reportedPosition(1), 1.0f);
    EXPECT_LT(video.positionReports().front().value.floatValue(), 1.0f);
}

TEST_F(VideoStateTest, ReportsGiveTheCountFirstThenTheValuesOfEachExistingLayer) {
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
    EXPECT_EQ(texts(video.positionReports()),
              (std::vector<std::string>{"/stagevue/layer/media/time/1 f 0.000000",
                                        "/stagevue/layer/media/time/2 f 0.250000"}));
    video.setLayerCount(0);
    EXPECT_EQ(texts(video.stateReports()), std::vector<std::string>{"/stagevue/layerNumber i 0"});
    EXPECT_TRUE(video.positionReports().empty());
}

}  // namespace
}  // namespace velto::tools

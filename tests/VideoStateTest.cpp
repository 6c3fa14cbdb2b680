#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "VideoState.h"

namespace velto::tools {
namespace {

using std::chrono::seconds;

// Reports as text, for comparing lists: "/stagevue/layerNumber 4".
std::vector<std::string> texts(const std::vector<VideoReport>& reports) {
    std::vector<std::string> lines;
    for (const VideoReport& r : reports) {
        std::ostringstream line;
        line << r.address << ' ';
        r.value.type() == 'i' ? line << r.value.intValue() : line << r.value.floatValue();
        lines.push_back(line.str());
    }
    return lines;
}

TEST(VideoStateTest, ValueOfAnExistingLayerIsTakenWithinItsRangeAndTheRestIgnored) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        std::string address;
        std::vector<HJOSCArgument> arguments;
        std::string taken;  // "opacity|speed|time layer value"; "" for ignored
    } cases[] = {
        {"/stagevue/layer/opacity/1", {HJOSCArgument::withFloat(50)}, "opacity 1 50"},
        {"/stagevue/layer/opacity/2", {HJOSCArgument::withFloat(150)}, "opacity 2 100"},
        {"/stagevue/layer/opacity/2", {HJOSCArgument::withFloat(-5)}, "opacity 2 0"},
        {"/stagevue/layer/opacity/1",
         {HJOSCArgument::withFloat(9), HJOSCArgument::withInt(30)},
         "opacity 1 30"},
        {"/stagevue/layer/media/speed/1", {HJOSCArgument::withFloat(25)}, "speed 1 25"},
        {"/stagevue/layer/media/time/2", {HJOSCArgument::withFloat(0.375f)}, "time 2 0.375"},
        {"/stagevue/layer/media/time/2", {HJOSCArgument::withFloat(1)}, "time 2 0"},
        {"/stagevue/layer/media/time/1", {HJOSCArgument::withFloat(-0.5f)}, "time 1 0"},
        {"/stagevue/layer/opacity/3", {HJOSCArgument::withFloat(5)}, ""},  // two layers only
        {"/stagevue/layer/media/speed/0", {HJOSCArgument::withFloat(5)}, ""},
        {"/stagevue/layer/opacity/-1", {HJOSCArgument::withFloat(5)}, ""},
        {"/stagevue/layer/opacity/", {HJOSCArgument::withFloat(5)}, ""},
        {"/stagevue/layer/opacity/1/x", {HJOSCArgument::withFloat(5)}, ""},
        {"/stagevue/layer/opacity/1", {}, ""},
        {"/stagevue/layer/opacity/1", {HJOSCArgument::withString("50")}, ""},
        {"/stagevue/layer/media/time/1", {HJOSCArgument::withFloat(nan)}, ""},
        {"/stagevue/layerNumber", {HJOSCArgument::withInt(1)}, ""},  // the video app's own
    };
    VideoState video(2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const VideoEvent event = video.receiveMessage(c.address, c.arguments);
        const VideoLayer& layer = video.layer(std::max(event.layer, 1));
        std::ostringstream taken;
        if (event.kind == VideoEvent::Kind::opacity)
            taken << "opacity " << event.layer << ' ' << layer.opacity;
        if (event.kind == VideoEvent::Kind::speed)
            taken << "speed " << event.layer << ' ' << layer.speed;
        if (event.kind == VideoEvent::Kind::position)
            taken << "time " << event.layer << ' ' << video.reportedPosition(event.layer);
        EXPECT_EQ(taken.str(), c.taken);
    }
    EXPECT_EQ(video.layerCount(), 2);
    EXPECT_EQ(video.receiveMessage("/stagevue/ping", {}).kind, VideoEvent::Kind::ping);
}

TEST(VideoStateTest, PositionAdvancesWithItsLayersSpeedAndWrapsAtOneWhilePlaying) {
    VideoState video(3);
    video.receiveMessage("/stagevue/layer/media/speed/1", {HJOSCArgument::withFloat(50)});
    video.receiveMessage("/stagevue/layer/media/time/3", {HJOSCArgument::withFloat(0.875f)});
    video.advance(seconds(2));
    EXPECT_NEAR(video.layer(1).position, 0.1, 1e-9);
    EXPECT_NEAR(video.layer(2).position, 0.2, 1e-9) << "normal speed crosses the clip in 10 s";
    EXPECT_NEAR(video.layer(3).position, 0.075, 1e-6);
    EXPECT_EQ(video.layer(4).position, 0) << "no such layer";
    video.advance(std::chrono::nanoseconds(7'999'999'999));
    EXPECT_LT(video.reportedPosition(2), 1.0f) << "a nanosecond before the wrap";
    video.setPlaying(false);
    video.advance(seconds(3));
    EXPECT_NEAR(video.layer(1).position, 0.5, 1e-6) << "paused";
}

TEST(VideoStateTest, ReportsGiveTheCountFirstThenTheValuesOfEachExistingLayer) {
    VideoState video(7);
    EXPECT_EQ(video.layerCount(), 4);
    video.setLayerCount(2);
    video.receiveMessage("/stagevue/layer/opacity/2", {HJOSCArgument::withFloat(40)});
    video.receiveMessage("/stagevue/layer/media/time/2", {HJOSCArgument::withFloat(0.25f)});
    EXPECT_EQ(texts(video.stateReports()),
              (std::vector<std::string>{
                  "/stagevue/layerNumber 2", "/stagevue/layer/opacity/1 100",
                  "/stagevue/layer/media/speed/1 100", "/stagevue/layer/media/time/1 0",
                  "/stagevue/layer/opacity/2 40", "/stagevue/layer/media/speed/2 100",
                  "/stagevue/layer/media/time/2 0.25"}));
    EXPECT_EQ(texts(video.positionReports()),
              (std::vector<std::string>{"/stagevue/layer/media/time/1 0",
                                        "/stagevue/layer/media/time/2 0.25"}));
    video.setLayerCount(-1);
    EXPECT_EQ(texts(video.stateReports()), std::vector<std::string>{"/stagevue/layerNumber 0"});
}

}  // namespace
}  // namespace velto::tools

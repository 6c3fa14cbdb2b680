#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "OscPeer.h"
#include "VideoState.h"

namespace velto::tools {
namespace {

// Reports as text, for comparing lists: "/stagevue/layerNumber 4".
std::vector<std::string> texts(const std::vector<VideoReport>& reports) {
    std::vector<std::string> lines;
    for (const VideoReport& r : reports) lines.push_back(OscPeer::describe(r.address, {r.value}));
    return lines;
}

HJOSCArgument f(float value) { return HJOSCArgument::withFloat(value); }

TEST(VideoStateTest, ValuesOfExistingLayersAreHeldWithinTheirRangesAndReported) {
    const struct {
        std::string address;
        std::vector<HJOSCArgument> arguments;
        std::string taken;  // kind (0 opacity, 1 speed, 2 time), layer, value; empty: ignored
    } cases[] = {
        {"/stagevue/layer/opacity/2", {f(150)}, "0 2 100"},
        {"/stagevue/layer/opacity/2", {f(-5)}, "0 2 0"},
        {"/stagevue/layer/opacity/1", {f(9), HJOSCArgument::withInt(30)}, "0 1 30"},
        {"/stagevue/layer/media/speed/1", {f(25)}, "1 1 25"},
        {"/stagevue/layer/media/time/2", {f(1)}, "2 2 0"},  // the end is the start
        {"/stagevue/layer/media/time/1", {f(0.375f)}, "2 1 0.375"},
        {"/stagevue/layer/opacity/3", {f(5)}, ""},  // two layers only
        {"/stagevue/layer/opacity/1/x", {f(5)}, ""},
        {"/stagevue/layer/opacity/1", {}, ""},
        {"/stagevue/layer/opacity/1", {HJOSCArgument::withString("50")}, ""},
        {"/stagevue/layer/media/time/1", {f(std::numeric_limits<float>::quiet_NaN())}, ""},
        {"/stagevue/layerNumber", {HJOSCArgument::withInt(1)}, ""},  // the video app's own
    };
    VideoState video(2);
    for (const auto& c : cases) {
        const VideoEvent event = video.receiveMessage(c.address, c.arguments);
        std::ostringstream taken;
        if (event.kind != VideoEvent::Kind::ignored)
            taken << static_cast<int>(event.kind) << ' ' << event.layer << ' ' << event.value;
        EXPECT_EQ(taken.str(), c.taken) << c.address;
    }
    EXPECT_EQ(video.receiveMessage("/stagevue/ping", {}).kind, VideoEvent::Kind::ping);
    EXPECT_EQ(texts(video.stateReports()),
              (std::vector<std::string>{
                  "/stagevue/layerNumber 2", "/stagevue/layer/opacity/1 30",
                  "/stagevue/layer/media/speed/1 25", "/stagevue/layer/media/time/1 0.375",
                  "/stagevue/layer/opacity/2 0", "/stagevue/layer/media/speed/2 100",
                  "/stagevue/layer/media/time/2 0"}));
    EXPECT_EQ(texts(video.positionReports()),
              (std::vector<std::string>{"/stagevue/layer/media/time/1 0.375",
                                        "/stagevue/layer/media/time/2 0"}));
    EXPECT_EQ(VideoState(7).layerCount(), 4);
    EXPECT_EQ(texts(VideoState(-1).stateReports()),
              std::vector<std::string>{"/stagevue/layerNumber 0"});
}

TEST(VideoStateTest, PositionAdvancesWithItsLayersSpeedAndWrapsAtOneWhilePlaying) {
    VideoState video(3);
    video.receiveMessage("/stagevue/layer/media/speed/1", {f(50)});
    video.receiveMessage("/stagevue/layer/media/time/3", {f(0.875f)});
    video.advance(std::chrono::seconds(2));
    EXPECT_NEAR(video.layer(1).position, 0.1, 1e-9);
    EXPECT_NEAR(video.layer(2).position, 0.2, 1e-9) << "normal speed crosses the clip in 10 s";
    EXPECT_NEAR(video.layer(3).position, 0.075, 1e-6);
    EXPECT_EQ(video.layer(4).position, 0) << "no such layer";
    video.advance(std::chrono::nanoseconds(7'999'999'999));
    EXPECT_LT(video.reportedPosition(2), 1.0f) << "a nanosecond before the wrap";
    video.setPlaying(false);
    video.advance(std::chrono::seconds(3));
    EXPECT_NEAR(video.layer(1).position, 0.5, 1e-6) << "paused";
}

}  // namespace
}  // namespace velto::tools

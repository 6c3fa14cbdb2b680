// The stand-in tools' state apart from their screens and sockets: velto-grid's
// lights and presses, velto-video's layers.

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "GridState.h"
#include "OscPeer.h"
#include "VideoState.h"

namespace velto::tools {
namespace {

using std::chrono::milliseconds;


std::vector<HJOSCArgument> ints(std::initializer_list<int> values) {
    std::vector<HJOSCArgument> arguments;
    for (const int value : values) arguments.push_back(HJOSCArgument::withInt(value));
    return arguments;
}

TEST(GridStateTest, LedLightsOneCellOfTheGridAndEveryMessageIsCountedAndShownEscaped) {
    GridState grid;
    const Instant t0 = ManualClock().now();
    for (const auto& arguments :
         {ints({8, 0, 1}),
          ints({0, -1, 1}),
          ints({1, 1}),
          ints({1, 1, 1, 1}),
          {HJOSCArgument::withString("1"), HJOSCArgument::withInt(1), HJOSCArgument::withInt(1)}})
        EXPECT_FALSE(grid.receiveMessage("/monome/led", arguments, t0)) << grid.lastMessage();
    EXPECT_FALSE(grid.receiveMessage("/monome/press", ints({1, 1, 1}), t0));
    const auto lit = grid.receiveMessage("/monome/led", ints({3, 7, 2}), t0 + milliseconds(500));
    EXPECT_TRUE(lit && lit->cell == (GridCell{3, 7}) && lit->lit && lit->changed);
    EXPECT_FALSE(
        grid.receiveMessage("/monome/led", ints({3, 7, -1}), t0 + milliseconds(500))->changed);
    const std::vector<HJOSCArgument> floats{HJOSCArgument::withFloat(2.9f),
                                            HJOSCArgument::withFloat(5), HJOSCArgument::withInt(1)};
    EXPECT_EQ(grid.receiveMessage("/monome/led", floats, t0 + milliseconds(500))->cell,
              (GridCell{2, 5}));
    EXPECT_EQ(grid.litCount(), 2u);
    grid.receiveMessage("/o\nther", {HJOSCArgument::withString("h\x1bi")}, t0 + milliseconds(999));
    EXPECT_EQ(grid.lastMessage(), "/o\\nther \"h\\x1bi\"");
    EXPECT_EQ(grid.receivedCount(), 10u);
    EXPECT_EQ(grid.messagesPerSecond(t0 + milliseconds(1000)), 4u);
}

TEST(GridStateTest, CellIsPressedOnceAndReleasedOnceByKeysOrMouse) {
    GridState grid;
    EXPECT_EQ(grid.press({3, 4}), (GridPress{{3, 4}, 1}));
    EXPECT_EQ(grid.press({3, 4}), std::nullopt);
    EXPECT_EQ(grid.release({3, 4}), (GridPress{{3, 4}, 0}));
    EXPECT_EQ(grid.release({3, 4}), std::nullopt);
    grid.moveCursor(2, 9);
    EXPECT_EQ(grid.toggleAtCursor(), (GridPress{{2, 7}, 1}));
    EXPECT_EQ(grid.tapAtCursor(), (std::vector<GridPress>{{{2, 7}, 0}}));
    EXPECT_EQ(grid.tapAtCursor(), (std::vector<GridPress>{{{2, 7}, 1}, {{2, 7}, 0}}));
    // The release goes to the pressed cell; the keyboard ends the mouse's hold.
    grid.mousePress({2, 7});
    EXPECT_EQ(grid.toggleAtCursor(), (GridPress{{2, 7}, 0}));
    EXPECT_EQ(grid.mouseRelease(), std::nullopt);
}

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
    video.advance(std::chrono::nanoseconds(7'999'999'999));
    EXPECT_LT(video.reportedPosition(2), 1.0f) << "a nanosecond before the wrap";
    video.setPlaying(false);
    video.advance(std::chrono::seconds(3));
    EXPECT_NEAR(video.layer(1).position, 0.5, 1e-6) << "paused";
}

}  // namespace
}  // namespace velto::tools

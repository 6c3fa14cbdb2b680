// The stand-in tools apart from their screens and sockets: their command lines
// (velto-serialosc's too), velto-grid's lights and presses, velto-video's layers.

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "GridApp.h"
#include "GridState.h"
#include "GridView.h"
#include "OscPeer.h"
#include "SerialoscOptions.h"
#include "VideoApp.h"
#include "VideoState.h"

namespace velto::tools {
namespace {

using std::chrono::milliseconds;

std::vector<HJOSCArgument> ints(auto... values) { return {HJOSCArgument::withInt(values)...}; }

HJOSCArgument f(float value) { return HJOSCArgument::withFloat(value); }

TEST(GridStateTest, LightsMessagesAndPresses) {
    GridState grid;
    const Instant t0 = ManualClock().now();
    const HJOSCArgument one = HJOSCArgument::withInt(1), text = HJOSCArgument::withString("1");
    for (const auto& arguments :
         {ints(8, 0, 1), ints(0, -1, 1), ints(1, 1), ints(1, 1, 1, 1), {text, one, one}})
        EXPECT_FALSE(grid.receiveMessage("/monome/led", arguments, t0)) << grid.lastMessage();
    const Instant t500 = t0 + milliseconds(500);
    const auto lit = grid.receiveMessage("/monome/led", ints(3, 7, 2), t500);
    EXPECT_TRUE(lit && lit->cell == (GridCell{3, 7}) && lit->lit && lit->changed);
    EXPECT_FALSE(grid.receiveMessage("/monome/led", ints(3, 7, -1), t500)->changed);
    EXPECT_EQ(grid.receiveMessage("/monome/led", {f(2.9f), f(5), one}, t500)->cell,
              (GridCell{2, 5}));
    EXPECT_EQ(grid.litCount(), 2u);
    grid.receiveMessage("/o\nther", {HJOSCArgument::withString("h\x1bi")}, t0 + milliseconds(999));
    EXPECT_EQ(grid.lastMessage(), "/o\\nther \"h\\x1bi\"");
    EXPECT_EQ(grid.receivedCount(), 9u);
    EXPECT_EQ(grid.messagesPerSecond(t0 + milliseconds(1000)), 4u);

    // A cell is pressed once and released once.
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

TEST(GridViewTest, TooSmallTerminalToldTheSizeNeeded) {
    EXPECT_TRUE(GridView::tooSmallNotice(80, 17).empty());
    EXPECT_EQ(GridView::tooSmallNotice(79, 40),
              (std::vector<std::string>{"velto-grid needs", "a terminal of", "80x17 or more;",
                                        "this one is", "79x40."}));
    EXPECT_FALSE(GridView::tooSmallNotice(80, 16).empty());
}

// Reports as text, for comparing lists: "/stagevue/layerNumber 4".
std::vector<std::string> texts(const std::vector<VideoReport>& reports) {
    std::vector<std::string> lines;
    for (const VideoReport& r : reports) lines.push_back(OscPeer::describe(r.address, {r.value}));
    return lines;
}

TEST(VideoStateTest, ValuesHeldInRangeAndReported) {
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
    EXPECT_EQ(texts(video.positionReports()).back(), "/stagevue/layer/media/time/2 0");
    EXPECT_EQ(VideoState(7).layerCount(), 4);
    EXPECT_EQ(VideoState(-1).layerCount(), 0);

    // Normal speed (100) crosses the clip in 10 s; layer 1 plays at a quarter of it.
    video.advance(std::chrono::seconds(2));
    EXPECT_NEAR(video.layer(2).position, 0.2, 1e-9);
    video.advance(std::chrono::nanoseconds(7'999'999'999));
    EXPECT_LT(video.reportedPosition(2), 1.0f) << "a nanosecond before the wrap";
    video.advance(std::chrono::seconds(1));
    EXPECT_NEAR(video.layer(2).position, 0.1, 1e-6) << "wrapped";
    video.setPlaying(false);
    video.advance(std::chrono::seconds(3));
    EXPECT_NEAR(video.layer(1).position, 0.65, 1e-6) << "paused";
}

template <typename Options>
std::string outcome(const Options& o, const std::ostringstream& values) {
    if (o.action == OptionAction::error) return o.error;
    if (o.action == OptionAction::run) return values.str();
    return o.action == OptionAction::help ? "help" : "version";
}

// Velto-grid and velto-video: "listen send layers [plain]"; velto-serialosc:
// "serialosc monome-send monome-listen listen device".
std::string parsed(char tool, const std::vector<const char*>& arguments) {
    std::ostringstream values;
    if (tool == 's') {
        const auto o = SerialoscOptions::parse(arguments);
        values << o.serialoscPort << ' ' << o.monomeSendPort << ' ' << o.monomeListenPort << ' '
               << o.listenPort << ' ' << o.device.value_or("-");
        return outcome(o, values);
    }
    const auto o =
        ToolOptions::parse(tool == 'g' ? GridApp::optionSpec() : VideoApp::optionSpec(), arguments);
    values << o.listenPort << ' ' << o.sendPort << ' ' << o.layers << (o.plain ? " plain" : "");
    return outcome(o, values);
}

TEST(ToolOptionsTest, EachToolParsesItsOwnCommandLine) {
    const struct {
        char tool;  // g: velto-grid, v: velto-video, s: velto-serialosc
        std::vector<const char*> arguments;
        std::string expected;
    } cases[] = {
        {'g', {}, "8080 8000 0"},
        {'v', {}, "5000 5001 4"},
        {'v', {"--listen-port", "0", "--send-port=9", "--plain", "--layers", "0"}, "0 9 0 plain"},
        {'v', {"--version"}, "version"},
        {'g', {"--layers", "2"}, "unknown option '--layers'"},
        {'v', {"--listen-port=65536"}, "option --listen-port: 65536 is outside 0 to 65535"},
        {'g', {"--send-port", "0"}, "option --send-port: 0 is outside 1 to 65535"},
        {'g', {"--plain=yes"}, "option --plain takes no value"},
        {'s', {}, "12002 8080 8000 0 -"},
        {'s',
         {"--serialosc-port", "1", "--monome-send-port=2", "--monome-listen-port", "3",
          "--listen-port", "4", "--device", "m1"},
         "1 2 3 4 m1"},
        {'s', {"--listen-port", "8080", "-h", "--bogus"}, "help"},
        {'s',
         {"--monome-listen-port", "0"},
         "option --monome-listen-port: 0 is outside 1 to 65535"},
        {'s', {"--device="}, "option --device needs the id of a grid (as serialosc lists it)"},
        {'s',
         {"--listen-port", "8080"},
         "--listen-port and --monome-send-port are both 8080: they need different ports"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(parsed(c.tool, c.arguments), c.expected);
    }
}

}  // namespace
}  // namespace velto::tools

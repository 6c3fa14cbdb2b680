#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GridState.h"

namespace velto::tools {
namespace {

using std::chrono::milliseconds;

std::vector<HJOSCArgument> ints(std::initializer_list<int> values) {
    std::vector<HJOSCArgument> arguments;
    for (const int value : values) arguments.push_back(HJOSCArgument::withInt(value));
    return arguments;
}

class GridStateTest : public ::testing::Test {
  protected:
    GridState grid;
    ManualClock clock;
    const Instant t0 = clock.now();

    // "/monome/led" with these values, received `after` the start.
    std::optional<GridLight> led(std::initializer_list<int> values,
                                 Duration after = Duration::zero()) {
        return grid.receiveMessage("/monome/led", ints(values), t0 + after);
    }
};

TEST_F(GridStateTest, LedMessageLightsAndDarkensOneCellCountingRowsFromTheTop) {
    const auto lit = led({3, 0, 1});
    ASSERT_TRUE(lit.has_value());
    EXPECT_EQ(lit->cell, (GridCell{3, 0}));
    EXPECT_TRUE(lit->lit);
    EXPECT_TRUE(lit->changed);
    EXPECT_TRUE(grid.isLit({3, 0}));
    EXPECT_EQ(grid.litCount(), 1u);

    const auto dark = led({3, 0, 0});
    ASSERT_TRUE(dark.has_value());
    EXPECT_FALSE(dark->lit);
    EXPECT_TRUE(dark->changed);
    EXPECT_EQ(grid.litCount(), 0u);
}

TEST_F(GridStateTest, RepeatedLedMessageIsTakenButChangesNothing) {
    led({7, 7, 1});
    const auto again = led({7, 7, 1});
    ASSERT_TRUE(again.has_value());
    EXPECT_FALSE(again->changed);
    EXPECT_TRUE(grid.isLit({7, 7}));
}

TEST_F(GridStateTest, AnyStateButZeroLights) {
    for (const int state : {1, 2, -1}) {
        grid.clearLights();
        ASSERT_TRUE(led({1, 1, state}).has_value()) << state;
        EXPECT_TRUE(grid.isLit({1, 1})) << state;
    }
}

TEST_F(GridStateTest, FloatArgumentsAreTakenAsWholeNumbers) {
    const auto lit = grid.receiveMessage(
        "/monome/led",
        {HJOSCArgument::withFloat(2.9f), HJOSCArgument::withFloat(5), HJOSCArgument::withFloat(1)},
        t0);
    ASSERT_TRUE(lit.has_value());
    EXPECT_EQ(lit->cell, (GridCell{2, 5}));
}

struct IgnoredMessage {
    const char* name;
    std::string address;
    std::vector<HJOSCArgument> arguments;
};

class GridStateIgnoresTest : public ::testing::TestWithParam<IgnoredMessage> {};

TEST_P(GridStateIgnoresTest, MessageThatIsNoLightOnTheGridChangesNoLight) {
    GridState grid;
    ManualClock clock;
    const auto light = grid.receiveMessage(GetParam().address, GetParam().arguments, clock.now());
    EXPECT_FALSE(light.has_value());
    EXPECT_EQ(grid.litCount(), 0u);
    // Still seen: it counts and shows as the last message.
    EXPECT_EQ(grid.receivedCount(), 1u);
    EXPECT_FALSE(grid.lastMessage().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, GridStateIgnoresTest,
    ::testing::Values(IgnoredMessage{"column8", "/monome/led", ints({8, 0, 1})},
                      IgnoredMessage{"rowMinus1", "/monome/led", ints({0, -1, 1})},
                      IgnoredMessage{"twoArguments", "/monome/led", ints({1, 1})},
                      IgnoredMessage{"fourArguments", "/monome/led", ints({1, 1, 1, 1})},
                      IgnoredMessage{"text",
                                     "/monome/led",
                                     {HJOSCArgument::withInt(1), HJOSCArgument::withString("a"),
                                      HJOSCArgument::withInt(1)}},
                      IgnoredMessage{"longerAddress", "/monome/led/x", ints({1, 1, 1})},
                      IgnoredMessage{"press", "/monome/press", ints({1, 1, 1})},
                      IgnoredMessage{"videoApp", "/stagevue/ping", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GridStateTest, LastMessageShowsAddressAndValues) {
    EXPECT_EQ(grid.lastMessage(), "");
    led({3, 4, 1});
    EXPECT_EQ(grid.lastMessage(), "/monome/led 3 4 1");
    grid.receiveMessage("/other", {HJOSCArgument::withFloat(0.5f), HJOSCArgument::withString("hi")},
                        t0);
    EXPECT_EQ(grid.lastMessage(), "/other 0.5 \"hi\"");
    EXPECT_EQ(grid.receivedCount(), 2u);
}

TEST_F(GridStateTest, RateCountsTheMessagesOfTheLastSecond) {
    led({0, 0, 1});
    led({0, 0, 0}, milliseconds(500));
    led({0, 0, 1}, milliseconds(999));
    EXPECT_EQ(grid.messagesPerSecond(t0 + milliseconds(999)), 3u);
    EXPECT_EQ(grid.messagesPerSecond(t0 + milliseconds(1000)), 2u);
    EXPECT_EQ(grid.messagesPerSecond(t0 + milliseconds(1999)), 0u);
    EXPECT_EQ(grid.receivedCount(), 3u);
}

TEST_F(GridStateTest, ClearDarkensEveryCellButKeepsHeldCells) {
    led({0, 0, 1});
    led({7, 7, 1});
    grid.press({2, 2});
    grid.clearLights();
    EXPECT_EQ(grid.litCount(), 0u);
    EXPECT_TRUE(grid.isHeld({2, 2}));
}

TEST_F(GridStateTest, CursorStopsAtTheEdges) {
    grid.moveCursor(-1, -1);
    EXPECT_EQ(grid.cursor(), (GridCell{0, 0}));
    grid.moveCursor(3, 20);
    EXPECT_EQ(grid.cursor(), (GridCell{3, 7}));
    grid.moveCursor(10, -2);
    EXPECT_EQ(grid.cursor(), (GridCell{7, 5}));
}

TEST_F(GridStateTest, CellIsPressedOnceAndReleasedOnce) {
    EXPECT_EQ(grid.press({3, 4}), (GridPress{{3, 4}, 1}));
    EXPECT_EQ(grid.press({3, 4}), std::nullopt);
    EXPECT_TRUE(grid.isHeld({3, 4}));
    EXPECT_EQ(grid.release({3, 4}), (GridPress{{3, 4}, 0}));
    EXPECT_EQ(grid.release({3, 4}), std::nullopt);
    EXPECT_FALSE(grid.isHeld({3, 4}));
    EXPECT_EQ(grid.press({8, 0}), std::nullopt);
}

TEST_F(GridStateTest, SpacePressesAndASecondSpaceReleases) {
    grid.moveCursor(2, 1);
    EXPECT_EQ(grid.toggleAtCursor(), (GridPress{{2, 1}, 1}));
    EXPECT_EQ(grid.toggleAtCursor(), (GridPress{{2, 1}, 0}));
    EXPECT_EQ(grid.toggleAtCursor(), (GridPress{{2, 1}, 1}));
}

TEST_F(GridStateTest, EnterTapsAndOnlyReleasesAHeldCell) {
    EXPECT_EQ(grid.tapAtCursor(), (std::vector<GridPress>{{{0, 0}, 1}, {{0, 0}, 0}}));
    EXPECT_FALSE(grid.isHeld({0, 0}));
    grid.toggleAtCursor();
    EXPECT_EQ(grid.tapAtCursor(), (std::vector<GridPress>{{{0, 0}, 0}}));
}

TEST_F(GridStateTest, MouseReleaseGoesToThePressedCell) {
    EXPECT_EQ(grid.mousePress({5, 6}), (GridPress{{5, 6}, 1}));
    EXPECT_EQ(grid.mouseRelease(), (GridPress{{5, 6}, 0}));
    EXPECT_EQ(grid.mouseRelease(), std::nullopt);
}

TEST_F(GridStateTest, MouseDoesNotPressACellThatTheKeyboardHolds) {
    grid.toggleAtCursor();
    EXPECT_EQ(grid.mousePress({0, 0}), std::nullopt);
    EXPECT_EQ(grid.mouseRelease(), std::nullopt);
    EXPECT_TRUE(grid.isHeld({0, 0}));
}

TEST_F(GridStateTest, KeyboardReleaseOfTheMouseCellEndsTheMouseHold) {
    grid.mousePress({0, 0});
    EXPECT_EQ(grid.toggleAtCursor(), (GridPress{{0, 0}, 0}));
    EXPECT_EQ(grid.mouseRelease(), std::nullopt);
}

}  // namespace
}  // namespace velto::tools

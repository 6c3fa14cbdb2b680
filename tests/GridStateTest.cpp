#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GridState.h"
#include "GridView.h"

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
    const Instant t0 = ManualClock().now();

    std::optional<GridLight> led(std::initializer_list<int> values,
                                 Duration after = Duration::zero()) {
        return grid.receiveMessage("/monome/led", ints(values), t0 + after);
    }
};

TEST_F(GridStateTest, LedMessageSetsOneCellCountingRowsFromTheTopAndAnyStateButZeroLights) {
    const auto lit = led({3, 0, 1});
    ASSERT_TRUE(lit.has_value());
    EXPECT_EQ(lit->cell, (GridCell{3, 0}));
    EXPECT_TRUE(lit->lit && lit->changed);
    EXPECT_EQ(grid.litCount(), 1u);
    EXPECT_FALSE(led({3, 0, 1}).value().changed) << "a repeat is taken but changes nothing";
    EXPECT_TRUE(led({3, 0, 0}).value().changed);
    EXPECT_EQ(grid.litCount(), 0u);

    for (const int state : {2, -1}) {
        led({1, 1, 0});
        EXPECT_TRUE(led({1, 1, state}).value().lit) << state;
    }
    const auto fromFloats = grid.receiveMessage(
        "/monome/led",
        {HJOSCArgument::withFloat(2.9f), HJOSCArgument::withFloat(5), HJOSCArgument::withFloat(1)},
        t0);
    ASSERT_TRUE(fromFloats.has_value());
    EXPECT_EQ(fromFloats->cell, (GridCell{2, 5})) << "floats are taken as whole numbers";
}

TEST_F(GridStateTest, MessageThatIsNoLightOnTheGridChangesNoLightButIsStillSeen) {
    const std::vector<std::pair<std::string, std::vector<HJOSCArgument>>> messages{
        {"/monome/led", ints({8, 0, 1})},
        {"/monome/led", ints({0, -1, 1})},
        {"/monome/led", ints({1, 1})},
        {"/monome/led", ints({1, 1, 1, 1})},
        {"/monome/led",
         {HJOSCArgument::withInt(1), HJOSCArgument::withString("a"), HJOSCArgument::withInt(1)}},
        {"/monome/led/x", ints({1, 1, 1})},
        {"/monome/press", ints({1, 1, 1})},
    };
    for (const auto& [address, arguments] : messages) {
        EXPECT_FALSE(grid.receiveMessage(address, arguments, t0).has_value()) << grid.lastMessage();
    }
    EXPECT_EQ(grid.litCount(), 0u);
    EXPECT_EQ(grid.receivedCount(), messages.size());
}

TEST_F(GridStateTest, LastMessageShowsAddressAndValuesAndTheRateCountsTheLastSecond) {
    EXPECT_EQ(grid.lastMessage(), "");
    grid.receiveMessage("/o\nther",
                        {HJOSCArgument::withFloat(0.5f), HJOSCArgument::withString("h\x1bi")}, t0);
    EXPECT_EQ(grid.lastMessage(), "/o\\nther 0.5 \"h\\x1bi\"") << "received text is shown escaped";
    led({0, 0, 0}, milliseconds(500));
    led({0, 0, 1}, milliseconds(999));
    EXPECT_EQ(grid.messagesPerSecond(t0 + milliseconds(999)), 3u);
    EXPECT_EQ(grid.messagesPerSecond(t0 + milliseconds(1000)), 2u);
    EXPECT_EQ(grid.messagesPerSecond(t0 + milliseconds(1999)), 0u);
    EXPECT_EQ(grid.lastMessage(), "/monome/led 0 0 1");
}

TEST_F(GridStateTest, CursorStopsAtTheEdges) {
    grid.moveCursor(-1, -1);
    EXPECT_EQ(grid.cursor(), (GridCell{0, 0}));
    grid.moveCursor(3, 20);
    EXPECT_EQ(grid.cursor(), (GridCell{3, 7}));
    grid.moveCursor(10, -2);
    EXPECT_EQ(grid.cursor(), (GridCell{7, 5}));
}

TEST_F(GridStateTest, CellIsPressedOnceAndReleasedOnceAndClearingTheLightsKeepsItHeld) {
    led({0, 0, 1});
    EXPECT_EQ(grid.press({3, 4}), (GridPress{{3, 4}, 1}));
    EXPECT_EQ(grid.press({3, 4}), std::nullopt);
    grid.clearLights();
    EXPECT_EQ(grid.litCount(), 0u);
    EXPECT_EQ(grid.release({3, 4}), (GridPress{{3, 4}, 0}));
    EXPECT_EQ(grid.release({3, 4}), std::nullopt);
    EXPECT_EQ(grid.press({8, 0}), std::nullopt);
}

TEST_F(GridStateTest, SpaceTogglesAndEnterTapsOrOnlyReleasesAHeldCell) {
    grid.moveCursor(2, 1);
    EXPECT_EQ(grid.toggleAtCursor(), (GridPress{{2, 1}, 1}));
    EXPECT_EQ(grid.toggleAtCursor(), (GridPress{{2, 1}, 0}));
    EXPECT_EQ(grid.tapAtCursor(), (std::vector<GridPress>{{{2, 1}, 1}, {{2, 1}, 0}}));
    EXPECT_FALSE(grid.isHeld({2, 1}));
    grid.toggleAtCursor();
    EXPECT_EQ(grid.tapAtCursor(), (std::vector<GridPress>{{{2, 1}, 0}}));
}

TEST_F(GridStateTest, MouseReleaseGoesToThePressedCellAndMouseAndKeyboardShareTheHold) {
    EXPECT_EQ(grid.mousePress({5, 6}), (GridPress{{5, 6}, 1}));
    EXPECT_EQ(grid.mouseRelease(), (GridPress{{5, 6}, 0}));
    EXPECT_EQ(grid.mouseRelease(), std::nullopt);

    grid.toggleAtCursor();  // the keyboard holds (0, 0)
    EXPECT_EQ(grid.mousePress({0, 0}), std::nullopt);
    EXPECT_EQ(grid.mouseRelease(), std::nullopt);
    EXPECT_TRUE(grid.isHeld({0, 0}));

    grid.toggleAtCursor();
    grid.mousePress({0, 0});
    EXPECT_EQ(grid.toggleAtCursor(), (GridPress{{0, 0}, 0}))
        << "the keyboard ends the mouse's hold";
    EXPECT_EQ(grid.mouseRelease(), std::nullopt);
}

TEST(GridViewTest, ATerminalTooSmallForTheScreenIsToldTheSizeNeeded) {
    EXPECT_TRUE(GridView::tooSmallNotice(80, 17).empty());
    EXPECT_EQ(GridView::tooSmallNotice(79, 40),
              (std::vector<std::string>{"velto-grid needs", "a terminal of", "80x17 or more;",
                                        "this one is", "79x40."}));
    EXPECT_EQ(GridView::tooSmallNotice(120, 16).back(), "120x16.");
}

}  // namespace
}  // namespace velto::tools

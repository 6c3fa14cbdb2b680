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

}  // namespace
}  // namespace velto::tools

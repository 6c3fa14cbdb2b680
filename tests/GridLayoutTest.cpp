// The twelve controls that start-up lays out on the grid.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

enum class Kind { fader, slider };

struct LayoutEntry {
    Kind kind;
    float x, y, width, height;
    const char* address;
};

// The layout as the video app's user knows it: opacity and media speed per
// layer on the faders (layer 4 leftmost in each half), media time per layer on
// the sliders (layer 1 lowest).
const std::vector<LayoutEntry> kExpectedLayout = {
    {Kind::fader, 0, 1, 1, 3, "/stagevue/layer/opacity/4"},
    {Kind::fader, 1, 1, 1, 3, "/stagevue/layer/opacity/3"},
    {Kind::fader, 2, 1, 1, 3, "/stagevue/layer/opacity/2"},
    {Kind::fader, 3, 1, 1, 3, "/stagevue/layer/opacity/1"},
    {Kind::fader, 4, 1, 1, 3, "/stagevue/layer/media/speed/4"},
    {Kind::fader, 5, 1, 1, 3, "/stagevue/layer/media/speed/3"},
    {Kind::fader, 6, 1, 1, 3, "/stagevue/layer/media/speed/2"},
    {Kind::fader, 7, 1, 1, 3, "/stagevue/layer/media/speed/1"},
    {Kind::slider, 0, 7, 8, 1, "/stagevue/layer/media/time/4"},
    {Kind::slider, 0, 6, 8, 1, "/stagevue/layer/media/time/3"},
    {Kind::slider, 0, 5, 8, 1, "/stagevue/layer/media/time/2"},
    {Kind::slider, 0, 4, 8, 1, "/stagevue/layer/media/time/1"},
};

class GridLayoutTest : public BridgeFixture {
protected:
    std::vector<const VTControl*> controlsCovering(std::uint32_t x, std::uint32_t y) const {
        std::vector<const VTControl*> covering;
        for (const auto& control : controller->controls()) {
            if (control->containsCell(x, y)) covering.push_back(control.get());
        }
        return covering;
    }
};

TEST_F(GridLayoutTest, StartUpBuildsTwelveEnabledControlsInTableOrder) {
    const auto& controls = controller->controls();
    ASSERT_EQ(controls.size(), kExpectedLayout.size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const auto& expected = kExpectedLayout[i];
        const auto& control = *controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + " " + expected.address);
        EXPECT_EQ(control.address(), expected.address);
        if (expected.kind == Kind::fader) {
            const auto* fader = dynamic_cast<const VTVerticalFader*>(&control);
            ASSERT_NE(fader, nullptr);
            EXPECT_EQ(fader->currentValue(), 0.0f);
            EXPECT_FALSE(fader->isFading());
        } else {
            EXPECT_NE(dynamic_cast<const VTHorizontalSlider*>(&control), nullptr);
        }
        EXPECT_EQ(control.rect().origin.x, expected.x);
        EXPECT_EQ(control.rect().origin.y, expected.y);
        EXPECT_EQ(control.rect().size.width, expected.width);
        EXPECT_EQ(control.rect().size.height, expected.height);
        EXPECT_TRUE(control.enabled());
    }
}

struct CellCase {
    std::uint32_t x, y;
    const char* address;
};

TEST_F(GridLayoutTest, NamedCellsAreCoveredByTheirControls) {
    const CellCase cells[] = {{0, 1, "/stagevue/layer/opacity/4"},
                              {7, 3, "/stagevue/layer/media/speed/1"},
                              {5, 7, "/stagevue/layer/media/time/4"},
                              {0, 4, "/stagevue/layer/media/time/1"}};
    for (const auto& cell : cells) {
        const auto covering = controlsCovering(cell.x, cell.y);
        ASSERT_EQ(covering.size(), 1u) << cell.x << "," << cell.y;
        EXPECT_EQ(covering[0]->address(), cell.address);
    }
}

TEST_F(GridLayoutTest, EveryCellOfRowsOneToSevenHasExactlyOneControl) {
    for (std::uint32_t y = 1; y < 8; ++y) {
        for (std::uint32_t x = 0; x < 8; ++x) EXPECT_EQ(controlsCovering(x, y).size(), 1u) << x << "," << y;
    }
}

TEST_F(GridLayoutTest, BottomRowAndCellsBeyondTheGridHaveNoControl) {
    for (std::uint32_t i = 0; i <= 8; ++i) {
        EXPECT_TRUE(controlsCovering(i, 0).empty()) << "row 0, column " << i;
        EXPECT_TRUE(controlsCovering(8, i).empty()) << "column 8, row " << i;
        EXPECT_TRUE(controlsCovering(i, 8).empty()) << "row 8, column " << i;
    }
}

TEST_F(GridLayoutTest, StartUpSendsOnlyTheGreeting) {
    EXPECT_TRUE(startupTraffic.values.empty());
    EXPECT_EQ(startupTraffic.otherVideoMessages, (std::vector<std::string>{"/stagevue/ping,"}));
    EXPECT_TRUE(startupTraffic.gridPackets.empty());
    EXPECT_TRUE(ticksFor(100ms).empty());
}

// A press through the grid reaches each control at the address of the layout:
// a slider answers at once, a fader at its first tick.
class GridLayoutPressTest : public GridLayoutTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(GridLayoutPressTest, PressOnTheTopCellOfAControlDrivesItsAddress) {
    const auto& entry = kExpectedLayout[GetParam()];
    const auto x = static_cast<std::int32_t>(entry.x) + (entry.kind == Kind::slider ? 2 : 0);
    const auto gridRow = static_cast<std::int32_t>(entry.y + entry.height) - 1;
    deliver(pressBytes(x, 7 - gridRow, 1));
    const auto sent = entry.kind == Kind::slider ? sendPendingNow() : tick();
    ASSERT_EQ(sent.values.size(), 1u);
    EXPECT_EQ(sent.values[0].address, entry.address);
    EXPECT_EQ(sent.lights.size(), entry.kind == Kind::slider ? 8u : 3u);
    for (const auto& light : sent.lights) {
        if (entry.kind == Kind::fader) {
            EXPECT_EQ(light.x, x);
        } else {
            EXPECT_EQ(light.y, 7 - gridRow);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryControl, GridLayoutPressTest, ::testing::Range<std::size_t>(0, 12));

}  // namespace
}  // namespace velto::test

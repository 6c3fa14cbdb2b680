// The twelve controls that start-up lays out on the grid.

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

struct LayoutEntry {
    bool fader;
    float x, y, width, height;
    const char* address;
};

// Opacity and media speed per layer on the faders (layer 4 leftmost in each
// half), media time per layer on the sliders (layer 1 lowest).
constexpr LayoutEntry kLayout[] = {
    {true, 0, 1, 1, 3, "/stagevue/layer/opacity/4"},
    {true, 1, 1, 1, 3, "/stagevue/layer/opacity/3"},
    {true, 2, 1, 1, 3, "/stagevue/layer/opacity/2"},
    {true, 3, 1, 1, 3, "/stagevue/layer/opacity/1"},
    {true, 4, 1, 1, 3, "/stagevue/layer/media/speed/4"},
    {true, 5, 1, 1, 3, "/stagevue/layer/media/speed/3"},
    {true, 6, 1, 1, 3, "/stagevue/layer/media/speed/2"},
    {true, 7, 1, 1, 3, "/stagevue/layer/media/speed/1"},
    {false, 0, 7, 8, 1, "/stagevue/layer/media/time/4"},
    {false, 0, 6, 8, 1, "/stagevue/layer/media/time/3"},
    {false, 0, 5, 8, 1, "/stagevue/layer/media/time/2"},
    {false, 0, 4, 8, 1, "/stagevue/layer/media/time/1"},
};

using GridLayoutTest = BridgeFixture;

TEST_F(GridLayoutTest, StartUpBuildsTwelveEnabledControlsInTableOrder) {
    const auto& controls = controller->controls();
    ASSERT_EQ(controls.size(), std::size(kLayout));
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const auto& expected = kLayout[i];
        const auto& control = *controls[i];
        SCOPED_TRACE(expected.address);
        EXPECT_EQ(control.address(), expected.address);
        const auto* fader = dynamic_cast<const VTVerticalFader*>(&control);
        if (expected.fader) {
            ASSERT_NE(fader, nullptr);
            EXPECT_EQ(fader->currentValue(), 0.0f);
        } else {
            EXPECT_NE(dynamic_cast<const VTHorizontalSlider*>(&control), nullptr);
        }
        const auto& rect = control.rect();
        EXPECT_EQ((std::array{rect.origin.x, rect.origin.y, rect.size.width, rect.size.height}),
                  (std::array{expected.x, expected.y, expected.width, expected.height}));
        EXPECT_TRUE(control.enabled());
    }
}

TEST_F(GridLayoutTest, RowsOneToSevenHaveExactlyOneControlPerCellAndRowZeroAndBeyondNone) {
    for (std::uint32_t y = 0; y <= 8; ++y) {
        for (std::uint32_t x = 0; x <= 8; ++x) {
            int covering = 0;
            for (const auto& control : controller->controls())
                covering += control->containsCell(x, y) ? 1 : 0;
            EXPECT_EQ(covering, (x < 8 && y >= 1 && y < 8) ? 1 : 0) << x << "," << y;
        }
    }
}

// A press through the grid reaches each control at its address: a slider
// answers at once, a fader at its first tick.
class GridLayoutPressTest : public GridLayoutTest,
                            public ::testing::WithParamInterface<std::size_t> {};

TEST_P(GridLayoutPressTest, PressOnTheTopCellOfAControlDrivesItsAddress) {
    const auto& entry = kLayout[GetParam()];
    const auto x = static_cast<std::int32_t>(entry.x) + (entry.fader ? 0 : 2);
    const auto monomeRow = 7 - (static_cast<std::int32_t>(entry.y + entry.height) - 1);
    deliver(pressBytes(x, monomeRow, 1));
    const auto sent = entry.fader ? tick() : sendPendingNow();
    ASSERT_EQ(sent.values.size(), 1u);
    EXPECT_EQ(sent.values[0].address, entry.address);
    if (entry.fader) {
        EXPECT_EQ(sent.lights, faderColumn(x, 1, 0, 0));
    } else {
        EXPECT_EQ(sent.lights, sliderRow(monomeRow, 2));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryControl, GridLayoutPressTest, ::testing::Range<std::size_t>(0, 12));

}  // namespace
}  // namespace velto::test

// What disabling a control draws, and the horizontal slider: the value a press
// sends and the one cell it lights. (Which cells and values reach which
// control is tested on the grid's layout.)

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

constexpr const char* kAddress = "/stagevue/test";
using VTControlTest = BridgeFixture;

TEST_F(VTControlTest, DisableDarkensEveryCellColumnByColumnFromTheBottomEveryTime) {
    auto control = VTControl::controlWithRectAndAddress(VTRect{{1, 1}, {2, 2}}, kAddress);
    for (int round = 0; round < 2; ++round) {  // already disabled: the same again
        control->setEnabled(false);
        EXPECT_EQ(flush().lights,
                  (std::vector<SentLight>{{1, 6, 0}, {1, 5, 0}, {2, 6, 0}, {2, 5, 0}}));
    }
    control->setEnabled(true);
    EXPECT_TRUE(flush().empty()) << "enabling draws nothing";
}

TEST_F(VTControlTest, SliderPressSendsTheFractionFromItsOriginEveryTime) {
    auto slider = VTHorizontalSlider::controlWithRectAndAddress(VTRect{{2, 3}, {4, 1}}, kAddress);
    slider->processPressAtXAndY(3, 3);
    slider->processPressAtXAndY(5, 3);
    slider->processPressAtXAndY(5, 3);
    slider->processReleaseAtXAndY(2, 3);  // a release does nothing
    const auto sent = flush();
    EXPECT_EQ(sent.values,
              (std::vector<SentValue>{{kAddress, 0.25f}, {kAddress, 0.75f}, {kAddress, 0.75f}}));
    const std::vector<SentLight> lit1{{2, 4, 0}, {3, 4, 1}, {4, 4, 0}, {5, 4, 0}};
    const std::vector<SentLight> lit3{{2, 4, 0}, {3, 4, 0}, {4, 4, 0}, {5, 4, 1}};
    EXPECT_EQ(sent.lights, joined({lit1, lit3, lit3}));
}

TEST_F(VTControlTest, SliderReportLightsCellFloorOf8TimesItNotSentBack) {
    auto slider = VTHorizontalSlider::controlWithRectAndAddress(VTRect{{0, 5}, {8, 1}}, kAddress);
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const std::pair<float, std::int32_t> cases[] = {
        // value, lit column (-1: none)
        {0.0f, 0},  {0.1249f, 0}, {0.125f, 1}, {0.999f, 7},
        {1.0f, -1}, {-0.1f, -1},  {kInf, -1},  {std::numeric_limits<float>::quiet_NaN(), -1}};
    for (const auto& [value, litColumn] : cases) {
        slider->processMessageWithAddressAndValue(kAddress, value);
        const auto sent = flush();
        EXPECT_TRUE(sent.values.empty() && sent.other.empty()) << value;
        EXPECT_EQ(sent.lights, sliderRow(2, litColumn)) << value;
    }
}

}  // namespace
}  // namespace velto::test

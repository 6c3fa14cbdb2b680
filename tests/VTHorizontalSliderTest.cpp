// The horizontal slider: the value a press sends and the one cell it lights.

#include <gtest/gtest.h>

#include <limits>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

constexpr const char* kAddress = "/stagevue/test/slider";

class VTHorizontalSliderTest : public BridgeFixture {
protected:
    // Eight columns on grid row 5 (the monome's row 2).
    std::unique_ptr<VTHorizontalSlider> slider =
        VTHorizontalSlider::controlWithRectAndAddress(VTRect{{0, 5}, {8, 1}}, kAddress);
};

TEST_F(VTHorizontalSliderTest, PressSendsTheColumnsFractionAndLightsThatColumnAloneEveryTime) {
    for (std::int32_t column = 0; column < 8; ++column) {
        SCOPED_TRACE(column);
        const auto x = static_cast<std::uint32_t>(column);
        slider->processPressAtXAndY(x, 5);
        slider->processPressAtXAndY(x, 5);
        const auto sent = flush();
        const SentValue value{kAddress, static_cast<float>(column) / 8.0f};
        EXPECT_EQ(sent.values, (std::vector<SentValue>{value, value}));
        EXPECT_EQ(sent.lights, joined({sliderRow(2, column), sliderRow(2, column)}));
        slider->processReleaseAtXAndY(x, 5);
        EXPECT_TRUE(flush().empty()) << "a release does nothing";
    }
}

TEST_F(VTHorizontalSliderTest, ValueAndCellsAreCountedFromTheSlidersOrigin) {
    auto offset = VTHorizontalSlider::controlWithRectAndAddress(VTRect{{2, 3}, {4, 1}}, kAddress);
    offset->processPressAtXAndY(3, 3);
    const auto sent = flush();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kAddress, 0.25f}}));
    EXPECT_EQ(sent.lights, (std::vector<SentLight>{{2, 4, 0}, {3, 4, 1}, {4, 4, 0}, {5, 4, 0}}));
}

TEST_F(VTHorizontalSliderTest, ReportedValueLightsCellFloorOfEightTimesItAndIsNotSentBack) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const struct {
        float value;
        std::int32_t litColumn;  // -1: none
    } cases[] = {
        {0.0f, 0},  {0.1249f, 0}, {0.125f, 1}, {0.999f, 7},
        {1.0f, -1}, {-0.1f, -1},  {kInf, -1},  {std::numeric_limits<float>::quiet_NaN(), -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        slider->processMessageWithAddressAndValue(kAddress, c.value);
        const auto sent = flush();
        EXPECT_TRUE(sent.values.empty());
        EXPECT_TRUE(sent.other.empty());
        EXPECT_EQ(sent.lights, sliderRow(2, c.litColumn));
    }
}

}  // namespace
}  // namespace velto::test

// The horizontal slider: the value a press sends and the one cell it lights.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

using velto::test::PrintTo;

constexpr const char* kAddress = "/stagevue/test/slider";

class VTHorizontalSliderTest : public BridgeFixture {
protected:
    // Eight columns on grid row 5 (the monome's row 2).
    std::unique_ptr<VTHorizontalSlider> slider =
        VTHorizontalSlider::controlWithRectAndAddress(VTRect{{0, 5}, {8, 1}}, kAddress);
};

class VTHorizontalSliderPressTest : public VTHorizontalSliderTest,
                                    public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(VTHorizontalSliderPressTest, PressSendsTheColumnsFractionAndLightsThatColumnAlone) {
    const std::int32_t column = GetParam();
    slider->processPressAtXAndY(static_cast<std::uint32_t>(column), 5);
    const auto sent = flush();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kAddress, static_cast<float>(column) / 8.0f}}));
    EXPECT_EQ(sent.lights, sliderRow(2, column));
}

INSTANTIATE_TEST_SUITE_P(EveryColumn, VTHorizontalSliderPressTest, ::testing::Range(0, 8));

TEST_F(VTHorizontalSliderTest, PressOnColumnThreeSendsThreeEighths) {
    slider->processPressAtXAndY(3, 5);
    const auto sent = flush();
    ASSERT_EQ(sent.values.size(), 1u);
    EXPECT_EQ(sent.values[0].value, 0.375f);
    EXPECT_EQ(sent.lights, sliderRow(2, 3));
}

TEST_F(VTHorizontalSliderTest, ValueAndCellsAreCountedFromTheSlidersOrigin) {
    auto offset = VTHorizontalSlider::controlWithRectAndAddress(VTRect{{2, 3}, {4, 1}}, kAddress);
    offset->processPressAtXAndY(3, 3);
    const auto sent = flush();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kAddress, 0.25f}}));
    // Columns 2 to 5 on grid row 3 (monome row 4), lit at column 3.
    EXPECT_EQ(sent.lights, (std::vector<SentLight>{{2, 4, 0}, {3, 4, 1}, {4, 4, 0}, {5, 4, 0}}));
}

TEST_F(VTHorizontalSliderTest, ReleaseSendsAndDrawsNothing) {
    slider->processPressAtXAndY(3, 5);
    flush();
    slider->processReleaseAtXAndY(3, 5);
    EXPECT_TRUE(flush().empty());
}

TEST_F(VTHorizontalSliderTest, EveryPressRedrawsTheWholeRowEvenWhenTheLitCellStays) {
    slider->processPressAtXAndY(6, 5);
    slider->processPressAtXAndY(6, 5);
    const auto sent = flush();
    EXPECT_EQ(sent.values.size(), 2u);
    EXPECT_EQ(sent.lights.size(), 16u);
}

struct ReportedCase {
    const char* name;
    float value;
    std::int32_t litColumn;  // -1: none
};

class VTHorizontalSliderReportTest : public VTHorizontalSliderTest,
                                     public ::testing::WithParamInterface<ReportedCase> {};

TEST_P(VTHorizontalSliderReportTest, ReportedValueIsDrawnAndNotSentBack) {
    slider->processMessageWithAddressAndValue(kAddress, GetParam().value);
    const auto sent = flush();
    EXPECT_TRUE(sent.values.empty());
    EXPECT_TRUE(sent.otherVideoMessages.empty());
    EXPECT_EQ(sent.lights, sliderRow(2, GetParam().litColumn));
}

INSTANTIATE_TEST_SUITE_P(
    Values, VTHorizontalSliderReportTest,
    ::testing::Values(ReportedCase{"One", 1.0f, -1}, ReportedCase{"JustBelowOne", 0.999f, 7},
                      ReportedCase{"Zero", 0.0f, 0}, ReportedCase{"NegativeZero", -0.0f, 0},
                      ReportedCase{"Negative", -0.1f, -1}, ReportedCase{"Half", 0.5f, 4},
                      ReportedCase{"ExactlyOneEighth", 0.125f, 1}, ReportedCase{"JustBelowOneEighth", 0.1249f, 0},
                      ReportedCase{"AboveOne", 3.0f, -1},
                      ReportedCase{"NotANumber", std::numeric_limits<float>::quiet_NaN(), -1},
                      ReportedCase{"Infinite", std::numeric_limits<float>::infinity(), -1},
                      ReportedCase{"MinusInfinite", -std::numeric_limits<float>::infinity(), -1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velto::test

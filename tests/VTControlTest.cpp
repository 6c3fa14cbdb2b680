// The control base (which presses, releases and values reach the hooks, what
// disabling draws) and the horizontal slider (the value a press sends and the
// one cell it lights).

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

using Calls = std::vector<std::string>;

// Records every hook call as text, e.g. "pressX 5".
class RecordingControl : public VTControl {
public:
    using VTControl::VTControl;
    Calls calls;

    void processWithValue(float v) override { calls.push_back("value " + std::to_string(v)); }
    void processPressAtX(std::uint32_t x) override { add("pressX", x); }
    void processPressAtY(std::uint32_t y) override { add("pressY", y); }
    void processReleaseAtX(std::uint32_t x) override { add("releaseX", x); }
    void processReleaseAtY(std::uint32_t y) override { add("releaseY", y); }
    void add(const char* hook, std::uint32_t n) {
        calls.push_back(std::string(hook) + " " + std::to_string(n));
    }
};

constexpr const char* kAddress = "/stagevue/layer/opacity/1";

class VTControlTest : public BridgeFixture {
protected:
    // Columns 2 to 4, rows 1 and 2.
    RecordingControl control{VTRect{{2, 1}, {3, 2}}, kAddress};
};

TEST_F(VTControlTest, PressesReachTheHooksOnlyInsideTheRectangle) {
    const struct {
        std::uint32_t x, y;
        bool inside;
    } cells[] = {{2, 1, true},    {4, 2, true},    {5, 1, false},
                 {2, 3, false},   {1, 1, false},   {2, 0, false},
                 {~0u, 1, false}, {2, ~0u, false}, {2147483648u, 1, false}};
    for (const auto& cell : cells) {
        control.calls.clear();
        control.processPressAtXAndY(cell.x, cell.y);
        control.processReleaseAtXAndY(cell.x, cell.y);
        const auto x = std::to_string(cell.x), y = std::to_string(cell.y);
        const Calls all{"pressX " + x, "pressY " + y, "releaseX " + x, "releaseY " + y};
        EXPECT_EQ(control.calls, cell.inside ? all : Calls{}) << x << "," << y;
    }
}

TEST_F(VTControlTest, ValuesReachTheHookOnlyForTheExactAddress) {
    const char* addresses[] = {"/stagevue/layer/opacity/12",
                               "/stagevue/layer/opacity/1/",
                               "/stagevue/layer/opacity/",
                               "/stagevue/layer/Opacity/1",
                               "/stagevue/layer/opacity/2",
                               "",
                               kAddress};
    for (int i = 0; i < 7; ++i)
        control.processMessageWithAddressAndValue(addresses[i], static_cast<float>(i));
    EXPECT_EQ(control.calls, Calls{"value 6.000000"});
}

TEST_F(VTControlTest, DisabledControlIgnoresAllAndEnablingDrawsNothing) {
    control.setEnabled(false);
    control.processPressAtXAndY(2, 1);
    control.processReleaseAtXAndY(2, 1);
    control.processMessageWithAddressAndValue(kAddress, 0.5f);
    EXPECT_TRUE(control.calls.empty());
    flush();
    control.setEnabled(true);
    EXPECT_TRUE(flush().empty());
    control.processPressAtXAndY(3, 2);
    EXPECT_EQ(control.calls, (Calls{"pressX 3", "pressY 2"}));
}

TEST_F(VTControlTest, DisableDarkensEveryCellColumnByColumnFromTheBottom) {
    const struct {
        VTRect rect;
        std::vector<SentLight> lights;  // monome rows
    } shapes[] = {{VTRect{{3, 1}, {1, 3}}, faderColumn(3, 0, 0, 0)},
                  {VTRect{{0, 5}, {8, 1}}, sliderRow(2, -1)},
                  {VTRect{{1, 1}, {2, 2}}, {{1, 6, 0}, {1, 5, 0}, {2, 6, 0}, {2, 5, 0}}}};
    for (const auto& shape : shapes) {
        auto disabled = VTControl::controlWithRectAndAddress(shape.rect, "/stagevue/test");
        for (int round = 0; round < 2; ++round) {  // already disabled: the same again
            disabled->setEnabled(false);
            EXPECT_EQ(flush().lights, shape.lights);
        }
    }
}

TEST_F(VTControlTest, SliderPressSendsTheColumnsFractionAndLightsItAlone) {
    // Eight columns on grid row 5 (the monome's row 2).
    auto slider = VTHorizontalSlider::controlWithRectAndAddress(VTRect{{0, 5}, {8, 1}}, kAddress);
    const float expected[] = {0.0f, 0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f, 0.875f};
    for (std::int32_t column = 0; column < 8; ++column) {
        SCOPED_TRACE(column);
        const auto x = static_cast<std::uint32_t>(column);
        slider->processPressAtXAndY(x, 5);
        slider->processPressAtXAndY(x, 5);
        const auto sent = flush();
        const SentValue value{kAddress, expected[column]};
        EXPECT_EQ(sent.values, (std::vector<SentValue>{value, value}));
        EXPECT_EQ(sent.lights, joined({sliderRow(2, column), sliderRow(2, column)}));
        slider->processReleaseAtXAndY(x, 5);
        EXPECT_TRUE(flush().empty()) << "a release does nothing";
    }
    auto offset = VTHorizontalSlider::controlWithRectAndAddress(VTRect{{2, 3}, {4, 1}}, kAddress);
    offset->processPressAtXAndY(3, 3);
    const auto sent = flush();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kAddress, 0.25f}}));
    EXPECT_EQ(sent.lights, (std::vector<SentLight>{{2, 4, 0}, {3, 4, 1}, {4, 4, 0}, {5, 4, 0}}));
}

TEST_F(VTControlTest, SliderReportLightsCellFloorOf8TimesItNotSentBack) {
    auto slider = VTHorizontalSlider::controlWithRectAndAddress(VTRect{{0, 5}, {8, 1}}, kAddress);
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const struct {
        float value;
        std::int32_t litColumn;  // -1: none
    } cases[] = {
        {0.0f, 0},  {0.1249f, 0}, {0.125f, 1}, {0.999f, 7},
        {1.0f, -1}, {-0.1f, -1},  {kInf, -1},  {std::numeric_limits<float>::quiet_NaN(), -1}};
    for (const auto& c : cases) {
        slider->processMessageWithAddressAndValue(kAddress, c.value);
        const auto sent = flush();
        EXPECT_TRUE(sent.values.empty() && sent.other.empty()) << c.value;
        EXPECT_EQ(sent.lights, sliderRow(2, c.litColumn)) << c.value;
    }
}

}  // namespace
}  // namespace velto::test

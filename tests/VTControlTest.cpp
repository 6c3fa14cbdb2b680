// The control base: which presses, releases and values reach the hooks, and
// what disabling draws.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

using velto::test::PrintTo;

constexpr std::uint32_t kFar = std::numeric_limits<std::uint32_t>::max();

// Records every hook call as text, e.g. "pressX 5".
class RecordingControl : public VTControl {
public:
    using VTControl::VTControl;
    std::vector<std::string> calls;

    void processWithValue(float value) override { calls.push_back("value " + std::to_string(value)); }
    void processPressAtX(std::uint32_t x) override { calls.push_back("pressX " + std::to_string(x)); }
    void processPressAtY(std::uint32_t y) override { calls.push_back("pressY " + std::to_string(y)); }
    void processReleaseAtX(std::uint32_t x) override { calls.push_back("releaseX " + std::to_string(x)); }
    void processReleaseAtY(std::uint32_t y) override { calls.push_back("releaseY " + std::to_string(y)); }
};

class VTControlTest : public BridgeFixture {
protected:
    // Columns 2 to 4, rows 1 and 2.
    RecordingControl control{VTRect{{2, 1}, {3, 2}}, "/stagevue/layer/opacity/1"};
};

struct HitCase {
    const char* name;
    std::uint32_t x;
    std::uint32_t y;
    bool inside;
};

class VTControlHitTest : public VTControlTest, public ::testing::WithParamInterface<HitCase> {};

TEST_P(VTControlHitTest, PressesAndReleasesReachTheHooksOnlyInsideTheRectangle) {
    const auto& cell = GetParam();
    control.processPressAtXAndY(cell.x, cell.y);
    control.processReleaseAtXAndY(cell.x, cell.y);
    if (cell.inside) {
        const std::string x = std::to_string(cell.x);
        const std::string y = std::to_string(cell.y);
        EXPECT_EQ(control.calls,
                  (std::vector<std::string>{"pressX " + x, "pressY " + y, "releaseX " + x, "releaseY " + y}));
    } else {
        EXPECT_TRUE(control.calls.empty());
    }
    EXPECT_EQ(control.containsCell(cell.x, cell.y), cell.inside);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, VTControlHitTest,
    ::testing::Values(HitCase{"LeftColumnBottomRow", 2, 1, true}, HitCase{"RightColumnTopRow", 4, 2, true},
                      HitCase{"ColumnAtOriginPlusWidth", 5, 1, false},
                      HitCase{"RowAtOriginPlusHeight", 2, 3, false}, HitCase{"ColumnLeftOfOrigin", 1, 1, false},
                      HitCase{"RowBelowOrigin", 2, 0, false}, HitCase{"FarColumn", kFar, 1, false},
                      HitCase{"FarRow", 2, kFar, false}, HitCase{"FarBoth", kFar, kFar, false},
                      HitCase{"ColumnJustBeyondInt32", 2147483648u, 1, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VTControlTest, RectangleOfZeroWidthOrHeightHoldsNoCell) {
    RecordingControl noWidth{VTRect{{0, 0}, {0, 3}}, "/a"};
    RecordingControl noHeight{VTRect{{0, 0}, {3, 0}}, "/b"};
    noWidth.processPressAtXAndY(0, 0);
    noHeight.processPressAtXAndY(0, 0);
    EXPECT_TRUE(noWidth.calls.empty());
    EXPECT_TRUE(noHeight.calls.empty());
}

TEST_F(VTControlTest, HooksReceiveGridCoordinatesNotOnesRelativeToTheRectangle) {
    RecordingControl atFive{VTRect{{5, 1}, {1, 3}}, "/stagevue/layer/media/speed/3"};
    atFive.processPressAtXAndY(5, 2);
    atFive.processReleaseAtXAndY(5, 3);
    EXPECT_EQ(atFive.calls, (std::vector<std::string>{"pressX 5", "pressY 2", "releaseX 5", "releaseY 3"}));
}

struct AddressCase {
    const char* name;
    const char* address;
    bool taken;
};

class VTControlAddressTest : public VTControlTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(VTControlAddressTest, ValuesReachTheHookOnlyForTheExactAddress) {
    control.processMessageWithAddressAndValue(GetParam().address, 0.5f);
    if (GetParam().taken) {
        EXPECT_EQ(control.calls, (std::vector<std::string>{"value 0.500000"}));
    } else {
        EXPECT_TRUE(control.calls.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, VTControlAddressTest,
    ::testing::Values(AddressCase{"Exact", "/stagevue/layer/opacity/1", true},
                      AddressCase{"LongerWithDigit", "/stagevue/layer/opacity/12", false},
                      AddressCase{"LongerWithSlash", "/stagevue/layer/opacity/1/", false},
                      AddressCase{"ShorterPrefix", "/stagevue/layer/opacity/", false},
                      AddressCase{"ShorterWithoutSlash", "/stagevue/layer/opacity", false},
                      AddressCase{"OtherCase", "/stagevue/layer/Opacity/1", false},
                      AddressCase{"AllUpperCase", "/STAGEVUE/LAYER/OPACITY/1", false},
                      AddressCase{"OtherLayer", "/stagevue/layer/opacity/2", false},
                      AddressCase{"Empty", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VTControlTest, DisabledControlIgnoresPressesReleasesAndValues) {
    control.setEnabled(false);
    control.processPressAtXAndY(2, 1);
    control.processReleaseAtXAndY(2, 1);
    control.processMessageWithAddressAndValue("/stagevue/layer/opacity/1", 0.5f);
    EXPECT_TRUE(control.calls.empty());
    EXPECT_FALSE(control.enabled());
}

TEST_F(VTControlTest, EnablingDrawsNothingAndLetsPressesThroughAgain) {
    control.setEnabled(false);
    flush();
    control.setEnabled(true);
    EXPECT_TRUE(flush().empty());
    control.processPressAtXAndY(3, 2);
    EXPECT_EQ(control.calls, (std::vector<std::string>{"pressX 3", "pressY 2"}));
}

TEST_F(VTControlTest, BaseControlReactsToNothing) {
    auto base = VTControl::controlWithRectAndAddress(VTRect{{0, 4}, {8, 1}}, "/stagevue/layer/media/time/1");
    base->processPressAtXAndY(3, 4);
    base->processReleaseAtXAndY(3, 4);
    base->processMessageWithAddressAndValue("/stagevue/layer/media/time/1", 0.5f);
    EXPECT_TRUE(flush().empty());
    EXPECT_TRUE(base->enabled());
}

struct SwitchOffCase {
    const char* name;
    VTRect rect;
    std::vector<SentLight> lights;  // monome rows
};

class VTControlSwitchOffTest : public BridgeFixture, public ::testing::WithParamInterface<SwitchOffCase> {};

TEST_P(VTControlSwitchOffTest, EveryDisableSwitchesEveryCellOffColumnByColumnFromTheBottom) {
    auto control = VTControl::controlWithRectAndAddress(GetParam().rect, "/stagevue/test");
    control->setEnabled(false);
    const auto first = flush();
    EXPECT_EQ(first.lights, GetParam().lights);
    EXPECT_TRUE(first.values.empty());

    // Already disabled: the same messages again.
    control->setEnabled(false);
    EXPECT_EQ(flush().lights, GetParam().lights);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, VTControlSwitchOffTest,
    ::testing::Values(SwitchOffCase{"Fader", VTRect{{3, 1}, {1, 3}}, faderColumn(3, 0, 0, 0)},
                      SwitchOffCase{"Slider", VTRect{{0, 5}, {8, 1}}, sliderRow(2, -1)},
                      SwitchOffCase{"TwoByTwo",
                                    VTRect{{1, 1}, {2, 2}},
                                    {{1, 6, 0}, {1, 5, 0}, {2, 6, 0}, {2, 5, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velto::test

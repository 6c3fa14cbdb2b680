// The grid as start-up lays it out: which control a press on each cell drives,
// how received datagrams are routed, and the video app's layer count and
// reports. Monome rows count from the top: 0 to 3 are the sliders of layers 4
// to 1, 4 to 6 the faders' top to bottom, 7 is unused.

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <limits>
#include <vector>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

using Values = std::vector<SentValue>;
const Values kTopSliderAtThree{{"/stagevue/layer/media/time/4", 0.375f}};

class GridLayoutTest : public BridgeFixture {
protected:
    // Nothing sent now or over the next ticks, so no fade started either.
    void expectNoReaction() {
        EXPECT_TRUE(collect().empty());
        EXPECT_TRUE(ticksFor(100ms).empty());
    }
};

TEST_F(GridLayoutTest, PressOnACellDrivesItsControlAtFirstTick) {
    const struct {
        std::int32_t x, row;
        const char* address;
        float value;
    } cases[] = {
        {0, 4, "/stagevue/layer/opacity/4", 1.25f},
        {1, 5, "/stagevue/layer/opacity/3", 1.25f},
        {2, 6, "/stagevue/layer/opacity/2", 0.0f},
        {3, 4, "/stagevue/layer/opacity/1", 1.25f},
        {4, 5, "/stagevue/layer/media/speed/4", 1.25f},
        {5, 6, "/stagevue/layer/media/speed/3", 0},
        {6, 4, "/stagevue/layer/media/speed/2", 1.25f},
        {7, 5, "/stagevue/layer/media/speed/1", 1.25f},
        {0, 0, "/stagevue/layer/media/time/4", 0.0f},
        {3, 1, "/stagevue/layer/media/time/3", 0.375f},
        {5, 2, "/stagevue/layer/media/time/2", 0.625f},
        {7, 3, "/stagevue/layer/media/time/1", 0.875f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        deliver(pressBytes(c.x, c.row, 1));
        const auto sent = tick();
        EXPECT_EQ(sent.values, (Values{{c.address, c.value}}));
        EXPECT_EQ(sent.lights, c.row < 4 ? sliderRow(c.row, c.x) : faderColumn(c.x, 1, 0, 0));
        ticksFor(2s);
    }
    for (std::int32_t cell = 0; cell < 64; ++cell) {  // each drives one control but row 7's
        deliver(pressBytes(cell % 8, cell / 8, 1));
        EXPECT_EQ(tick().values.size(), cell < 56 ? 1u : 0u) << cell;
        ticksFor(2s);
    }
}

TEST_F(GridLayoutTest, StateZeroIsAReleaseAndEveryOtherAPress) {
    deliver(pressBytes(2, 5, 0));  // toward 50 at 200 ms for the full scale: 100 ms
    const char* opacity2 = "/stagevue/layer/opacity/2";
    EXPECT_EQ(ticksFor(200ms).values,
              (Values{{opacity2, 12.5f}, {opacity2, 25.0f}, {opacity2, 37.5f}, {opacity2, 50.0f}}));
    for (const std::int32_t state : {1, 2, -1, INT_MIN}) {
        deliver(pressBytes(3, 0, state));
        EXPECT_EQ(collect().values, kTopSliderAtThree) << state;
    }
}

TEST_F(GridLayoutTest, OtherAddressesWrongArgumentsAndCellsOffTheGridDoNothing) {
    for (const char* address : {"/monome/led", "/monome/pres", "/Monome/press", "/stagevuex/a",
                                "/stagevue/monome/press", "/other/thing"})
        deliver(messageBytes(address, {intArg(3), intArg(0), intArg(1)}));
    deliver(messageBytes("/monome/press"));
    deliver(messageBytes("/monome/press", {intArg(3), intArg(0)}));
    deliver(messageBytes("/monome/press", {intArg(3), intArg(0), intArg(1), intArg(1)}));
    const std::int32_t offTheGrid[][2] = {{-1, 0},      {8, 0},       {3, 8},       {3, -1},
                                          {INT_MIN, 0}, {3, INT_MIN}, {3, INT_MAX}, {INT_MAX, 0}};
    for (const auto& [x, y] : offTheGrid) deliver(pressBytes(x, y, 1));
    deliver(Bytes{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1});  // empty bundle
    deliver(pressBytes(3, 0, 0));  // a slider takes no release
    expectNoReaction();
    for (const char* address : {"/monome/press", "/monome/pressure", "/monome/press/extra"}) {
        deliver(messageBytes(address, {intArg(3), intArg(0), intArg(1)}));
        EXPECT_EQ(collect().values, kTopSliderAtThree) << address;
    }
}

TEST_F(GridLayoutTest, BundleElementsAreHandledDepthFirstWhateverTheirTimeTag) {
    const char* slider = "/stagevue/layer/media/time/4";
    auto inner = HJOSCBundle::bundleWithTimestamp(Date{1e9});
    inner->attachObject(*makeMessage("/monome/press", {intArg(3), intArg(0), intArg(1)}));
    inner->attachObject(*makeMessage("/monome/press", {intArg(6), intArg(0), intArg(1)}));
    auto outer = HJOSCBundle::bundleWithTimestamp(Date{1e9});
    outer->attachObject(*makeMessage(slider, {floatArg(0.5f)}));
    outer->attachObject(inner);
    outer->attachObject(*makeMessage(slider, {floatArg(0.125f)}));
    deliver(outer->packetizedData().value());
    const auto sent = collect();
    EXPECT_EQ(sent.values, (Values{{slider, 0.375f}, {slider, 0.75f}}));
    EXPECT_EQ(sent.lights,
              joined({sliderRow(0, 4), sliderRow(0, 3), sliderRow(0, 6), sliderRow(0, 1)}));
}

TEST_F(GridLayoutTest, TwoLayersDarkenLayersThreeAndFourAndMakeThemDeaf) {
    deliver(messageBytes("/stagevue/layerNumberXYZ", {intArg(2)}));  // a prefix will do
    const auto sent = collect();
    // Opacity 4 and 3, speed 4 and 3, media time 4 and 3.
    EXPECT_EQ(sent.lights,
              joined({faderColumn(0, 0, 0, 0), faderColumn(1, 0, 0, 0), faderColumn(4, 0, 0, 0),
                      faderColumn(5, 0, 0, 0), sliderRow(0, -1), sliderRow(1, -1)}));
    EXPECT_TRUE(sent.values.empty() && sent.other.empty());
    deliver(pressBytes(0, 4, 1));  // opacity 4
    deliver(pressBytes(3, 0, 1));  // media time 4
    deliver(messageBytes("/stagevue/layer/opacity/4", {floatArg(80.0f)}));
    expectNoReaction();
    EXPECT_EQ(faderWithAddress("/stagevue/layer/opacity/4")->currentValue(), 0.0f);
    deliver(pressBytes(3, 3, 1));  // media time 1 still answers
    EXPECT_EQ(collect().values, (Values{{"/stagevue/layer/media/time/1", 0.375f}}));
    // Without an argument nothing changes; of several the last counts.
    deliver(messageBytes("/stagevue/layerNumber"));
    deliver(messageBytes("/stagevue/layer/media/time/1"));
    deliver(pressBytes(3, 0, 1));
    EXPECT_TRUE(collect().empty());
    deliver(messageBytes("/stagevue/layerNumber", {intArg(0), intArg(4)}));
    deliver(pressBytes(3, 0, 1));
    EXPECT_EQ(collect().values, kTopSliderAtThree);
}

TEST_F(GridLayoutTest, LayerCountDarkensTheLayersBeyondItEveryTime) {
    const struct {
        std::int32_t count;
        std::size_t lights;  // 14 for each layer darkened
    } cases[] = {{0, 56}, {5, 0}, {3, 14}, {1, 42}, {-1, 56}, {INT_MAX, 0}, {INT_MIN, 56}};
    for (const auto& c : cases) {
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(std::to_string(c.count) + " round " + std::to_string(round));
            deliver(messageBytes("/stagevue/layerNumber", {intArg(c.count)}));
            EXPECT_EQ(collect().lights.size(), c.lights) << "reappearing layers draw nothing";
        }
    }
}

TEST_F(GridLayoutTest, ReportsAreDrawnAndKeptButNotSentBack) {
    // A slider lights the cell at 8 times the value, rounded down; none outside 0 to 1.
    const std::pair<float, std::int32_t> cases[] = {
        {0.1249f, 0}, {1.0f, -1}, {std::numeric_limits<float>::quiet_NaN(), -1}};
    for (const auto& [value, litColumn] : cases) {
        deliver(messageBytes("/stagevue/layer/media/time/2", {floatArg(value)}));
        EXPECT_EQ(collect().lights, sliderRow(2, litColumn)) << value;
    }
    // Of several arguments the last counts.
    deliver(messageBytes("/stagevue/layer/media/time/2", {floatArg(0.125f), floatArg(0.5f)}));
    deliver(messageBytes("/stagevue/layer/media/speed/2", {floatArg(50.0f)}));
    deliver(messageBytes("/stagevue/layer/opacity/5", {floatArg(50.0f)}));   // no such control
    deliver(messageBytes("/stagevue/layer/opacity/1/", {floatArg(50.0f)}));  // no such control
    deliver(messageBytes("/stagevue/layer/opacity/", {floatArg(50.0f)}));    // no such control
    const auto sent = collect();
    EXPECT_EQ(sent.lights, joined({sliderRow(2, 4), faderColumn(6, 1, 1, 0)}));
    EXPECT_TRUE(sent.values.empty() && sent.other.empty());
    // The argument is read by its bits whatever its type.
    deliver(messageBytes("/stagevue/layer/media/time/2", {intArg(std::bit_cast<int>(0.25f))}));
    EXPECT_EQ(collect().lights, sliderRow(2, 2));
    deliver(messageBytes("/stagevue/layerNumber", {floatArg(0.0f)}));  // integer 0
    EXPECT_EQ(collect().lights.size(), 56u);
    deliver(messageBytes("/stagevue/layerNumber", {floatArg(2.0f)}));  // 0x40000000: all layers
    deliver(pressBytes(3, 0, 1));
    EXPECT_EQ(collect().values, kTopSliderAtThree);
}

}  // namespace
}  // namespace velto::test

// Received datagrams: routing by address prefix, bundles, and grid presses
// turned into presses and releases of the controls (rows turned over: the
// monome's row 5 is the faders' middle row, 0 the top slider).

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "common/osc/HJOSCDataUtilities.h"
#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

constexpr const char* kTopSlider =
    "/stagevue/layer/media/time/4";                             // grid row 7, the monome's row 0
constexpr const char* kOpacity2 = "/stagevue/layer/opacity/2";  // column 2
const std::vector<SentValue> kTopSliderAtThree{{kTopSlider, 0.375f}};

class InboundRoutingTest : public BridgeFixture {
protected:
    // Nothing sent now or over the next ticks, so no fade started either.
    void expectNoReaction() {
        EXPECT_TRUE(sendPendingNow().empty());
        EXPECT_TRUE(ticksFor(100ms).empty());
    }
};

TEST_F(InboundRoutingTest, StateZeroIsAReleaseAndFadesTenTimesFaster) {
    deliver(pressBytes(2, 5, 0));  // toward 50 at 200 ms for the full scale: 100 ms
    const auto fade = ticksFor(200ms);
    EXPECT_EQ(fade.valuesFor(kOpacity2), (std::vector<float>{12.5f, 25.0f, 37.5f, 50.0f}));
    EXPECT_EQ(fade.values.size(), 4u) << "no other control moved";
    EXPECT_EQ(fade.lights.size(), 12u);
}

TEST_F(InboundRoutingTest, EveryStateButZeroIsAPress) {
    for (const std::int32_t state : {1, 2, -1, INT_MIN}) {
        deliver(pressBytes(3, 0, state));
        EXPECT_EQ(sendPendingNow().values, kTopSliderAtThree) << state;
    }
    deliver(pressBytes(3, 0, 0));
    EXPECT_TRUE(sendPendingNow().empty()) << "a slider does nothing on release";
}

TEST_F(InboundRoutingTest, OnlyAddressesBeginningWithMonomePressAreGridPresses) {
    for (const char* address : {"/monome/led", "/monome/pres", "/Monome/press", "/stagevuex/a",
                                "/stagevue/monome/press", "/other/thing"}) {
        deliver(messageBytes(address, {intArg(3), intArg(0), intArg(1)}));
    }
    expectNoReaction();
    for (const char* address : {"/monome/press", "/monome/pressure", "/monome/press/extra"}) {
        deliver(messageBytes(address, {intArg(3), intArg(0), intArg(1)}));
        EXPECT_EQ(sendPendingNow().values, kTopSliderAtThree) << address;
    }
}

TEST_F(InboundRoutingTest, WrongArgumentCountsTheBottomRowAndCellsOutsideTheGridReachNoControl) {
    deliver(messageBytes("/monome/press"));
    deliver(messageBytes("/monome/press", {intArg(3), intArg(0)}));
    deliver(messageBytes("/monome/press", {intArg(3), intArg(0), intArg(1), intArg(1)}));
    std::vector<std::pair<std::int32_t, std::int32_t>> cells = {
        {-1, 0},      {8, 0},       {3, 8},       {3, -1},
        {INT_MIN, 0}, {3, INT_MIN}, {3, INT_MAX}, {INT_MAX, INT_MAX}};
    for (std::int32_t x = 0; x < 8; ++x) cells.emplace_back(x, 7);
    for (const auto& [x, y] : cells) {
        deliver(pressBytes(x, y, 1));
        deliver(pressBytes(x, y, 0));
    }
    expectNoReaction();
}

TEST_F(InboundRoutingTest, BundleElementsAreHandledDepthFirstInOrderWhateverTheirTimeTag) {
    const Date farFuture{1e9};
    auto outer =
        makeBundle({makeMessage(kTopSlider, {floatArg(0.5f)}),
                    makeBundle({makeMessage("/monome/press", {intArg(3), intArg(0), intArg(1)}),
                                makeMessage("/monome/press", {intArg(6), intArg(0), intArg(1)})},
                               farFuture),
                    makeMessage(kTopSlider, {floatArg(0.125f)})},
                   farFuture);
    deliver(encode(*outer));

    const auto sent = sendPendingNow();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kTopSlider, 0.375f}, {kTopSlider, 0.75f}}));
    EXPECT_EQ(sent.lights,
              joined({sliderRow(0, 4), sliderRow(0, 3), sliderRow(0, 6), sliderRow(0, 1)}));
}

TEST_F(InboundRoutingTest, DatagramsThatHoldNoUsablePacketChangeNothing) {
    Bytes emptyBundle = HJOSCDataUtilities::dataBlockFromString("#bundle");
    const Bytes immediate = HJOSCDataUtilities::ntpTimestampForImmediate();
    emptyBundle.insert(emptyBundle.end(), immediate.begin(), immediate.end());
    Bytes truncated = pressBytes(3, 0, 1);
    truncated.resize(truncated.size() - 4);

    for (const Bytes& datagram : {Bytes{}, emptyBundle, truncated, Bytes{'h', 'e', 'l', 'l', 'o'}})
        deliver(datagram);
    expectNoReaction();

    deliver(pressBytes(3, 0, 1));
    EXPECT_EQ(sendPendingNow().values, kTopSliderAtThree) << "the next press still works";
}

}  // namespace
}  // namespace velto::test

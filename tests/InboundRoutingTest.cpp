// Received datagrams: routing by address prefix, bundles, and grid presses
// turned into presses and releases of the controls.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "common/osc/HJOSCDataUtilities.h"
#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

using velto::test::PrintTo;

constexpr const char* kTopSlider = "/stagevue/layer/media/time/4";  // grid row 7, the monome's row 0
constexpr const char* kOpacity2 = "/stagevue/layer/opacity/2";     // column 2

class InboundRoutingTest : public BridgeFixture {
protected:
    bool anyFaderFading() const {
        for (const auto& control : controller->controls()) {
            if (const auto* fader = dynamic_cast<const VTVerticalFader*>(control.get()); fader && fader->isFading())
                return true;
        }
        return false;
    }
    // Nothing sent now or over the next ticks, and no fade started.
    void expectNoReaction() {
        EXPECT_TRUE(sendPendingNow().empty());
        EXPECT_FALSE(anyFaderFading());
        EXPECT_TRUE(ticksFor(100ms).empty());
    }
};

TEST_F(InboundRoutingTest, PressOnAFaderCellFadesThatFaderTowardTheCellsLevel) {
    deliver(pressBytes(2, 5, 1));  // grid cell (2, 2): level 50, held: 1000 ms
    EXPECT_TRUE(sendPendingNow().empty()) << "the first level goes out at the first tick";
    const auto fade = ticksFor(1000ms);
    const auto levels = fade.valuesFor(kOpacity2);
    ASSERT_EQ(levels.size(), 40u);
    EXPECT_EQ(fade.values.size(), 40u) << "no other control reacted";
    EXPECT_EQ(levels[0], 1.25f);
    EXPECT_EQ(levels[19], 25.0f);
    EXPECT_EQ(levels[39], 50.0f);
    EXPECT_EQ(fade.lights.size(), 120u);
    for (const auto& light : fade.lights) EXPECT_EQ(light.x, 2);
    EXPECT_FALSE(faderWithAddress(kOpacity2)->isFading());
}

TEST_F(InboundRoutingTest, StateZeroIsAReleaseAndFadesTenTimesFaster) {
    deliver(pressBytes(2, 5, 0));  // toward 50 at 200 ms for the full scale: 100 ms
    const auto fade = ticksFor(100ms);
    EXPECT_EQ(fade.valuesFor(kOpacity2), (std::vector<float>{12.5f, 25.0f, 37.5f, 50.0f}));
    EXPECT_FALSE(faderWithAddress(kOpacity2)->isFading());
}

struct StateCase {
    const char* name;
    std::int32_t state;
    bool press;
};

class InboundStateTest : public InboundRoutingTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(InboundStateTest, EveryStateButZeroIsAPress) {
    deliver(pressBytes(3, 0, GetParam().state));
    const auto sent = sendPendingNow();
    if (GetParam().press) {
        EXPECT_EQ(sent.values, (std::vector<SentValue>{{kTopSlider, 0.375f}}));
        EXPECT_EQ(sent.lights, sliderRow(0, 3));
    } else {
        EXPECT_TRUE(sent.empty()) << "a slider does nothing on release";
    }
}

INSTANTIATE_TEST_SUITE_P(States, InboundStateTest,
                         ::testing::Values(StateCase{"One", 1, true}, StateCase{"Two", 2, true},
                                           StateCase{"MinusOne", -1, true}, StateCase{"Int32Min", INT_MIN, true},
                                           StateCase{"Zero", 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct AddressCase {
    const char* name;
    const char* address;
    bool handled;
};

class InboundAddressTest : public InboundRoutingTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(InboundAddressTest, OnlyAddressesBeginningWithMonomePressAreGridPresses) {
    deliver(messageBytes(GetParam().address, {intArg(3), intArg(0), intArg(1)}));
    if (GetParam().handled) {
        EXPECT_EQ(sendPendingNow().values, (std::vector<SentValue>{{kTopSlider, 0.375f}}));
    } else {
        expectNoReaction();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, InboundAddressTest,
    ::testing::Values(AddressCase{"Press", "/monome/press", true},
                      AddressCase{"PressureBeginsLikePress", "/monome/pressure", true},
                      AddressCase{"PressWithMoreParts", "/monome/press/extra", true},
                      AddressCase{"Led", "/monome/led", false}, AddressCase{"ShorterThanPress", "/monome/pres", false},
                      AddressCase{"MonomeAlone", "/monome", false}, AddressCase{"Monomes", "/monomes/press", false},
                      AddressCase{"OtherCase", "/Monome/press", false},
                      AddressCase{"NeitherPrefix", "/other/thing", false},
                      AddressCase{"StagevuexIsNoPress", "/stagevuex/a", false},
                      AddressCase{"VideoAppAddressWithPressArguments", "/stagevue/monome/press", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InboundRoutingTest, PressWithOtherThanThreeArgumentsIsIgnored) {
    deliver(messageBytes("/monome/press"));
    deliver(messageBytes("/monome/press", {intArg(3), intArg(0)}));
    deliver(messageBytes("/monome/press", {intArg(3), intArg(0), intArg(1), intArg(1)}));
    expectNoReaction();
}

TEST_F(InboundRoutingTest, BottomRowOfTheGridBelongsToNoControl) {
    for (std::int32_t x = 0; x < 8; ++x) {
        deliver(pressBytes(x, 7, 1));
        deliver(pressBytes(x, 7, 0));
    }
    expectNoReaction();
}

struct OutsideCase {
    const char* name;
    std::int32_t x, y;
};

class InboundOutsideTest : public InboundRoutingTest, public ::testing::WithParamInterface<OutsideCase> {};

TEST_P(InboundOutsideTest, CoordinatesOutsideTheGridReachNoControl) {
    deliver(pressBytes(GetParam().x, GetParam().y, 1));
    deliver(pressBytes(GetParam().x, GetParam().y, 0));
    expectNoReaction();
}

INSTANTIATE_TEST_SUITE_P(
    Cells, InboundOutsideTest,
    ::testing::Values(OutsideCase{"NegativeColumn", -1, 0}, OutsideCase{"ColumnEight", 8, 0},
                      OutsideCase{"RowBelowTheGrid", 3, 8}, OutsideCase{"NegativeRow", 3, -1},
                      OutsideCase{"Int32MinColumn", INT_MIN, 0}, OutsideCase{"Int32MinRow", 3, INT_MIN},
                      OutsideCase{"Int32MaxRow", 3, INT_MAX}, OutsideCase{"Int32MaxBoth", INT_MAX, INT_MAX}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InboundRoutingTest, BundleElementsAreHandledDepthFirstInOrderWhateverTheirTimeTag) {
    const Date farFuture{1e9};
    auto outer = makeBundle(
        {
            makeMessage(kTopSlider, {floatArg(0.5f)}),
            makeBundle({makeMessage("/monome/press", {intArg(3), intArg(0), intArg(1)}),
                        makeMessage("/monome/press", {intArg(6), intArg(0), intArg(1)})},
                       farFuture),
            makeMessage(kTopSlider, {floatArg(0.125f)}),
        },
        farFuture);
    deliver(encode(*outer));

    const auto sent = sendPendingNow();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kTopSlider, 0.375f}, {kTopSlider, 0.75f}}));
    std::vector<SentLight> expected;
    for (const std::int32_t lit : {4, 3, 6, 1}) {
        const auto row = sliderRow(0, lit);
        expected.insert(expected.end(), row.begin(), row.end());
    }
    EXPECT_EQ(sent.lights, expected);
}

TEST_F(InboundRoutingTest, DatagramsThatHoldNoUsablePacketChangeNothing) {
    Bytes emptyBundle = HJOSCDataUtilities::dataBlockFromString("#bundle");
    const Bytes immediate = HJOSCDataUtilities::ntpTimestampForImmediate();
    emptyBundle.insert(emptyBundle.end(), immediate.begin(), immediate.end());
    Bytes truncated = pressBytes(3, 0, 1);
    truncated.resize(truncated.size() - 4);
    const Bytes text{'h', 'e', 'l', 'l', 'o'};

    for (const Bytes& datagram : {Bytes{}, emptyBundle, truncated, text}) deliver(datagram);
    expectNoReaction();

    deliver(pressBytes(3, 0, 1));
    EXPECT_EQ(sendPendingNow().values, (std::vector<SentValue>{{kTopSlider, 0.375f}})) << "the next press still works";
}

struct PortCase {
    const char* name;
    bool videoPort;
};

class InboundPortTest : public InboundRoutingTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(InboundPortTest, PressMovesTheControlsWhicheverListenPortItArrivesOn) {
    const auto port = GetParam().videoPort ? stagevueListenPort : monomeListenPort;
    ASSERT_TRUE(deliverOverUdp(pressBytes(3, 0, 1), port));
    const auto sent = sendPendingNow();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kTopSlider, 0.375f}}));
    EXPECT_EQ(sent.lights, sliderRow(0, 3));
}

INSTANTIATE_TEST_SUITE_P(Ports, InboundPortTest,
                         ::testing::Values(PortCase{"VideoAppsPort", true}, PortCase{"GridsPort", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velto::test

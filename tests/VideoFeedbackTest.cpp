// Messages from the video app: the layer count that enables and darkens the
// controls of each layer, and reported values that move the controls without
// being sent back.

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <string>
#include <vector>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

using velto::test::PrintTo;

// The layer of each control, in the controller's order.
constexpr int kLayerOfControl[12] = {4, 3, 2, 1, 4, 3, 2, 1, 4, 3, 2, 1};

class VideoFeedbackTest : public BridgeFixture {
protected:
    void layerCount(std::int32_t n) { deliver(messageBytes("/stagevue/layerNumber", {intArg(n)})); }
    std::vector<bool> enabledFlags() const {
        std::vector<bool> flags;
        for (const auto& control : controller->controls()) flags.push_back(control->enabled());
        return flags;
    }
    static std::vector<bool> enabledUpTo(int layers) {
        std::vector<bool> flags;
        for (const int layer : kLayerOfControl) flags.push_back(layer <= layers);
        return flags;
    }
};

TEST_F(VideoFeedbackTest, TwoLayersDarkenLayersThreeAndFourInControlOrder) {
    layerCount(2);
    const auto sent = sendPendingNow();
    std::vector<SentLight> expected;
    for (const std::int32_t column : {0, 1, 4, 5}) {  // opacity 4 and 3, speed 4 and 3
        const auto off = faderColumn(column, 0, 0, 0);
        expected.insert(expected.end(), off.begin(), off.end());
    }
    for (const std::int32_t monomeRow : {0, 1}) {  // media time 4 and 3
        const auto off = sliderRow(monomeRow, -1);
        expected.insert(expected.end(), off.begin(), off.end());
    }
    EXPECT_EQ(sent.lights.size(), 28u);
    EXPECT_EQ(sent.lights, expected);
    EXPECT_TRUE(sent.videoPackets.empty());
    EXPECT_EQ(enabledFlags(), enabledUpTo(2));
}

struct CountCase {
    const char* name;
    std::int32_t count;
    int layersEnabled;
    std::size_t lights;
};

class VideoFeedbackCountTest : public VideoFeedbackTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(VideoFeedbackCountTest, LayerCountEnablesTheLayersThatExistAndDarkensTheOthersEveryTime) {
    const auto& c = GetParam();
    for (int round = 0; round < 2; ++round) {
        layerCount(c.count);
        const auto sent = sendPendingNow();
        EXPECT_EQ(sent.lights.size(), c.lights) << "round " << round;
        for (const auto& light : sent.lights) EXPECT_EQ(light.state, 0);
        EXPECT_TRUE(sent.videoPackets.empty());
        EXPECT_EQ(enabledFlags(), enabledUpTo(c.layersEnabled));
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, VideoFeedbackCountTest,
                         ::testing::Values(CountCase{"Five", 5, 4, 0}, CountCase{"Four", 4, 4, 0},
                                           CountCase{"Three", 3, 3, 14}, CountCase{"Two", 2, 2, 28},
                                           CountCase{"One", 1, 1, 42}, CountCase{"Zero", 0, 0, 56},
                                           CountCase{"Negative", -1, 0, 56},
                                           CountCase{"Int32Max", INT_MAX, 4, 0},
                                           CountCase{"Int32Min", INT_MIN, 0, 56}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VideoFeedbackTest, ReappearingLayersAreEnabledWithoutAnythingDrawn) {
    layerCount(0);
    sendPendingNow();
    layerCount(4);
    EXPECT_TRUE(sendPendingNow().empty());
    EXPECT_EQ(enabledFlags(), enabledUpTo(4));
}

TEST_F(VideoFeedbackTest, ControlsOfMissingLayersIgnorePresses) {
    layerCount(2);
    sendPendingNow();
    deliver(pressBytes(0, 4, 1));  // opacity 4, top cell
    deliver(pressBytes(3, 0, 1));  // media time 4
    EXPECT_TRUE(sendPendingNow().empty());
    EXPECT_TRUE(ticksFor(100ms).empty());

    deliver(pressBytes(3, 3, 1));  // media time 1 still answers
    EXPECT_EQ(sendPendingNow().values, (std::vector<SentValue>{{"/stagevue/layer/media/time/1", 0.375f}}));
}

TEST_F(VideoFeedbackTest, AddressThatGoesOnAfterLayerNumberIsStillALayerCount) {
    deliver(messageBytes("/stagevue/layerNumberXYZ", {intArg(2)}));
    EXPECT_EQ(sendPendingNow().lights.size(), 28u);
    EXPECT_EQ(enabledFlags(), enabledUpTo(2));
}

TEST_F(VideoFeedbackTest, OnlyTheLastArgumentCounts) {
    deliver(messageBytes("/stagevue/layerNumber", {intArg(4), intArg(2)}));
    EXPECT_EQ(sendPendingNow().lights.size(), 28u);
    deliver(messageBytes("/stagevue/layerNumber", {intArg(0), intArg(4)}));
    EXPECT_TRUE(sendPendingNow().empty());
    EXPECT_EQ(enabledFlags(), enabledUpTo(4));

    deliver(messageBytes("/stagevue/layer/media/time/2", {floatArg(0.125f), floatArg(0.5f)}));
    EXPECT_EQ(sendPendingNow().lights, sliderRow(2, 4));
}

TEST_F(VideoFeedbackTest, MessageWithoutArgumentsChangesNothing) {
    layerCount(2);
    sendPendingNow();
    deliver(messageBytes("/stagevue/layerNumber"));
    deliver(messageBytes("/stagevue/layer/media/time/1"));
    deliver(messageBytes("/stagevue/layer/opacity/1"));
    EXPECT_TRUE(sendPendingNow().empty());
    EXPECT_EQ(enabledFlags(), enabledUpTo(2));
}

TEST_F(VideoFeedbackTest, ValueForADisabledControlIsDroppedAndStaysUnseenAfterReenabling) {
    layerCount(0);
    sendPendingNow();
    deliver(messageBytes("/stagevue/layer/opacity/1", {floatArg(80.0f)}));
    EXPECT_TRUE(sendPendingNow().empty());
    EXPECT_EQ(faderWithAddress("/stagevue/layer/opacity/1")->currentValue(), 0.0f);

    layerCount(4);
    EXPECT_TRUE(sendPendingNow().empty()) << "enabling draws nothing";

    deliver(messageBytes("/stagevue/layer/opacity/1", {floatArg(80.0f)}));
    const auto sent = sendPendingNow();
    EXPECT_EQ(sent.lights, faderColumn(3, 1, 1, 0));
    EXPECT_TRUE(sent.videoPackets.empty());
}

TEST_F(VideoFeedbackTest, ReportedSliderValueLightsItsRowAndIsNotSentBack) {
    deliver(messageBytes("/stagevue/layer/media/time/2", {floatArg(0.5f)}));
    const auto sent = sendPendingNow();
    EXPECT_EQ(sent.lights, sliderRow(2, 4));  // grid row 5 is the monome's row 2
    EXPECT_TRUE(sent.videoPackets.empty());
}

TEST_F(VideoFeedbackTest, ReportedFaderLevelIsKeptDrawnAndNotSentBack) {
    deliver(messageBytes("/stagevue/layer/media/speed/2", {floatArg(50.0f)}));
    const auto sent = sendPendingNow();
    EXPECT_EQ(sent.lights, faderColumn(6, 1, 1, 0));
    EXPECT_TRUE(sent.videoPackets.empty());
    EXPECT_EQ(faderWithAddress("/stagevue/layer/media/speed/2")->currentValue(), 50.0f);
}

TEST_F(VideoFeedbackTest, ValueForAnAddressNoControlHasIsDropped) {
    deliver(messageBytes("/stagevue/layer/opacity/5", {floatArg(50.0f)}));
    deliver(messageBytes("/stagevue/layer/opacity/1/", {floatArg(50.0f)}));
    EXPECT_TRUE(sendPendingNow().empty());
}

TEST_F(VideoFeedbackTest, ArgumentIsReadByItsBitsWhateverItsType) {
    // An int32 holding the bits of 0.5f is a value of 0.5.
    deliver(messageBytes("/stagevue/layer/media/time/2", {intArg(std::bit_cast<std::int32_t>(0.5f))}));
    EXPECT_EQ(sendPendingNow().lights, sliderRow(2, 4));

    // A float 2.0 as a layer count is the integer 0x40000000: every layer exists.
    layerCount(0);
    sendPendingNow();
    deliver(messageBytes("/stagevue/layerNumber", {floatArg(2.0f)}));
    EXPECT_TRUE(sendPendingNow().empty());
    EXPECT_EQ(enabledFlags(), enabledUpTo(4));
}

}  // namespace
}  // namespace velto::test

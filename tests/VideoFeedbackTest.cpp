// Messages from the video app: the layer count that enables and darkens the
// controls of each layer, and reported values that move the controls without
// being sent back.

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <vector>

#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

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

TEST_F(VideoFeedbackTest, TwoLayersDarkenLayersThreeAndFourInControlOrderAndMakeThemDeaf) {
    layerCount(2);
    const auto sent = sendPendingNow();
    EXPECT_EQ(sent.lights.size(), 28u);
    // Opacity 4 and 3, speed 4 and 3, media time 4 and 3.
    EXPECT_EQ(sent.lights,
              joined({faderColumn(0, 0, 0, 0), faderColumn(1, 0, 0, 0), faderColumn(4, 0, 0, 0),
                      faderColumn(5, 0, 0, 0), sliderRow(0, -1), sliderRow(1, -1)}));
    EXPECT_TRUE(sent.values.empty() && sent.other.empty());
    EXPECT_EQ(enabledFlags(), enabledUpTo(2));

    deliver(pressBytes(0, 4, 1));  // opacity 4, top cell
    deliver(pressBytes(3, 0, 1));  // media time 4
    deliver(messageBytes("/stagevue/layer/opacity/4", {floatArg(80.0f)}));
    EXPECT_TRUE(ticksFor(100ms).empty());
    EXPECT_EQ(faderWithAddress("/stagevue/layer/opacity/4")->currentValue(), 0.0f);

    deliver(pressBytes(3, 3, 1));  // media time 1 still answers
    EXPECT_EQ(sendPendingNow().values,
              (std::vector<SentValue>{{"/stagevue/layer/media/time/1", 0.375f}}));
}

TEST_F(VideoFeedbackTest, LayerCountEnablesTheLayersThatExistAndDarkensTheOthersEveryTime) {
    const struct {
        std::int32_t count;
        int layersEnabled;
        std::size_t lights;
    } cases[] = {{0, 0, 56},  {5, 4, 0},       {3, 3, 14},      {1, 1, 42},
                 {-1, 0, 56}, {INT_MAX, 4, 0}, {INT_MIN, 0, 56}};
    for (const auto& c : cases) {
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE("count " + std::to_string(c.count) + " round " + std::to_string(round));
            layerCount(c.count);
            const auto sent = sendPendingNow();
            EXPECT_EQ(sent.lights.size(), c.lights)
                << "reappearing layers are enabled without anything drawn";
            for (const auto& light : sent.lights) EXPECT_EQ(light.state, 0);
            EXPECT_TRUE(sent.values.empty() && sent.other.empty());
            EXPECT_EQ(enabledFlags(), enabledUpTo(c.layersEnabled));
        }
    }
}

TEST_F(VideoFeedbackTest,
       LayerNumberIsAPrefixOnlyTheLastArgumentCountsAndNoArgumentChangesNothing) {
    deliver(messageBytes("/stagevue/layerNumberXYZ", {intArg(2)}));
    EXPECT_EQ(sendPendingNow().lights.size(), 28u);
    deliver(messageBytes("/stagevue/layerNumber"));
    deliver(messageBytes("/stagevue/layer/media/time/1"));
    EXPECT_TRUE(sendPendingNow().empty());
    EXPECT_EQ(enabledFlags(), enabledUpTo(2));
    deliver(messageBytes("/stagevue/layerNumber", {intArg(0), intArg(4)}));
    EXPECT_TRUE(sendPendingNow().empty());
    EXPECT_EQ(enabledFlags(), enabledUpTo(4));

    deliver(messageBytes("/stagevue/layer/media/time/2", {floatArg(0.125f), floatArg(0.5f)}));
    EXPECT_EQ(sendPendingNow().lights, sliderRow(2, 4));
}

TEST_F(VideoFeedbackTest, ReportedValuesAreDrawnAndKeptButNotSentBack) {
    deliver(messageBytes("/stagevue/layer/media/time/2", {floatArg(0.5f)}));
    deliver(messageBytes("/stagevue/layer/media/speed/2", {floatArg(50.0f)}));
    deliver(messageBytes("/stagevue/layer/opacity/5", {floatArg(50.0f)}));   // no such control
    deliver(messageBytes("/stagevue/layer/opacity/1/", {floatArg(50.0f)}));  // no such control
    const auto sent = sendPendingNow();
    EXPECT_EQ(sent.lights, joined({sliderRow(2, 4), faderColumn(6, 1, 1, 0)}));
    EXPECT_TRUE(sent.values.empty() && sent.other.empty());
    EXPECT_EQ(faderWithAddress("/stagevue/layer/media/speed/2")->currentValue(), 50.0f);
}

TEST_F(VideoFeedbackTest, ArgumentIsReadByItsBitsWhateverItsType) {
    deliver(
        messageBytes("/stagevue/layer/media/time/2", {intArg(std::bit_cast<std::int32_t>(0.5f))}));
    EXPECT_EQ(sendPendingNow().lights, sliderRow(2, 4));
    deliver(messageBytes("/stagevue/layerNumber", {floatArg(0.0f)}));  // integer 0
    EXPECT_EQ(sendPendingNow().lights.size(), 56u);
    deliver(messageBytes("/stagevue/layerNumber",
                         {floatArg(2.0f)}));  // integer 0x40000000: every layer
    EXPECT_EQ(enabledFlags(), enabledUpTo(4));
}

}  // namespace
}  // namespace velto::test

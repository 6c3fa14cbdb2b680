// The control base: which presses, releases and values reach the hooks, and
// what disabling draws.

#include <gtest/gtest.h>

#include <cstdint>
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

    void processWithValue(float value) override {
        calls.push_back("value " + std::to_string(value));
    }
    void processPressAtX(std::uint32_t x) override {
        calls.push_back("pressX " + std::to_string(x));
    }
    void processPressAtY(std::uint32_t y) override {
        calls.push_back("pressY " + std::to_string(y));
    }
    void processReleaseAtX(std::uint32_t x) override {
        calls.push_back("releaseX " + std::to_string(x));
    }
    void processReleaseAtY(std::uint32_t y) override {
        calls.push_back("releaseY " + std::to_string(y));
    }
};

constexpr const char* kAddress = "/stagevue/layer/opacity/1";

class VTControlTest : public BridgeFixture {
protected:
    // Columns 2 to 4, rows 1 and 2.
    RecordingControl control{VTRect{{2, 1}, {3, 2}}, kAddress};
};

TEST_F(VTControlTest, PressesAndReleasesReachTheHooksWithGridCoordinatesOnlyInsideTheRectangle) {
    const struct {
        std::uint32_t x, y;
        bool inside;
    } cells[] = {{2, 1, true},    {4, 2, true},    {5, 1, false},
                 {2, 3, false},   {1, 1, false},   {2, 0, false},
                 {~0u, 1, false}, {2, ~0u, false}, {2147483648u, 1, false}};
    for (const auto& cell : cells) {
        SCOPED_TRACE(std::to_string(cell.x) + "," + std::to_string(cell.y));
        control.calls.clear();
        control.processPressAtXAndY(cell.x, cell.y);
        control.processReleaseAtXAndY(cell.x, cell.y);
        const auto x = std::to_string(cell.x), y = std::to_string(cell.y);
        const Calls expected =
            cell.inside ? Calls{"pressX " + x, "pressY " + y, "releaseX " + x, "releaseY " + y}
                        : Calls{};
        EXPECT_EQ(control.calls, expected);
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

TEST_F(VTControlTest, DisabledControlIgnoresEverythingAndEnablingDrawsNothing) {
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

TEST_F(VTControlTest, EveryDisableSwitchesEveryCellOffColumnByColumnFromTheBottom) {
    const struct {
        const char* name;
        VTRect rect;
        std::vector<SentLight> lights;  // monome rows
    } shapes[] = {
        {"fader", VTRect{{3, 1}, {1, 3}}, faderColumn(3, 0, 0, 0)},
        {"slider", VTRect{{0, 5}, {8, 1}}, sliderRow(2, -1)},
        {"two by two", VTRect{{1, 1}, {2, 2}}, {{1, 6, 0}, {1, 5, 0}, {2, 6, 0}, {2, 5, 0}}}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.name);
        auto disabled = VTControl::controlWithRectAndAddress(shape.rect, "/stagevue/test");
        for (int round = 0; round < 2; ++round) {  // already disabled: the same again
            disabled->setEnabled(false);
            const auto sent = flush();
            EXPECT_EQ(sent.lights, shape.lights);
            EXPECT_TRUE(sent.values.empty());
        }
    }
}

}  // namespace
}  // namespace velto::test

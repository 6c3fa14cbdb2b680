// The controller's start-up and ports: the settings read and written back, the
// endpoints opened and reopened, the greeting, the shared controller and the
// lights' rows.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/BridgeFixture.h"
#include "support/UdpTestPeer.h"

namespace velto::test {
namespace {

using Calls = std::vector<std::string>;
using Stored = std::map<std::string, std::int64_t, std::less<>>;

class ControllerTest : public BridgeFixture {
    void SetUp() override {}  // each test wakes the controller itself
};

TEST_F(ControllerTest, ZeroOrAbsentPortsGiveTheDefaultsWrittenBack) {
    settings.setIntegerForKey(0, "stagevueListenPort");
    settings.setIntegerForKey(0, "monomeSendPort");
    wake();
    EXPECT_EQ(recorder->calls, (Calls{"open 0 5000", "open 1 5001", "open 2 8080", "open 3 8000"}));
    EXPECT_EQ(settings.values(), (Stored{{"monomeListenPort", 8000},
                                         {"monomeSendPort", 8080},
                                         {"stagevueListenPort", 5001},
                                         {"stagevueSendPort", 5000}}));
    EXPECT_EQ(controller->portsDescription(),
              "video app: send 5000, listen 5001; grid: send 8080, listen 8000");
    const auto sent = tick();
    EXPECT_EQ(sent.other, Calls{"/stagevue/ping,"}) << "the greeting, and nothing drawn";
    EXPECT_TRUE(sent.values.empty() && sent.lights.empty());
    EXPECT_TRUE(ticksFor(100ms).empty());
}

TEST_F(ControllerTest, PortsOutsideTheUdpRangeAreKeptAndShownWithTheirLow16Bits) {
    settings.setIntegerForKey(70000, "stagevueSendPort");
    settings.setIntegerForKey(-1, "stagevueListenPort");
    settings.setIntegerForKey(4294975376, "monomeSendPort");
    settings.setIntegerForKey(8000, "monomeListenPort");
    wake();
    EXPECT_EQ(recorder->calls, (Calls{"open 0 70000", "open 1 -1", "open 2 8080", "open 3 8000"}));
    EXPECT_EQ(settings.integerForKey("stagevueSendPort"), 70000);
    EXPECT_EQ(settings.integerForKey("monomeSendPort"), 8080) << "its low 32 bits";
    EXPECT_EQ(controller->portsDescription(),
              "video app: send 70000 (port 4464), listen -1 (port 65535); grid: send 8080, "
              "listen 8000");
}

TEST_F(ControllerTest, ReloadReopensOnlyChangedPortsAndFailedListeners) {
    wake();
    collect();
    const struct {
        std::map<std::string, std::int64_t> store;  // set before the reload
        std::int32_t refused;                       // a listen port that is taken, or 0
        Calls calls;
        const char* ports;  // as described after the reload
    } steps[] = {
        {{}, 0, {}, "video app: send 5000, listen 5001; grid: send 8080, listen 8000"},
        {{{"monomeSendPort", 9080}}, 0, {"open 2 9080"}, "grid: send 9080, listen 8000"},
        // Listen ports that trade places: both let go before either binds again.
        {{{"stagevueListenPort", 8000}, {"monomeListenPort", 5001}},
         0,
         {"stop 1", "stop 3", "open 1 8000", "open 3 5001"},
         "listen 8000; grid"},
        {{{"stagevueListenPort", 6001}}, 6001, {"open 1 6001"}, "listen 6001 (failed); grid"},
        {{}, 0, {"open 1 6001"}, "listen 6001; grid"},  // started again
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.ports);
        for (const auto& [key, value] : step.store) settings.setIntegerForKey(value, key);
        recorder->refused = {step.refused};
        recorder->calls.clear();
        controller->reloadPorts();
        EXPECT_EQ(recorder->calls, step.calls);
        EXPECT_NE(controller->portsDescription().find(step.ports), std::string::npos)
            << controller->portsDescription();
        EXPECT_EQ(collect().other, Calls{"/stagevue/ping,"}) << "a reload greets the video app";
    }
    settings = MemorySettingsStore();  // a settings file that names no port, or none readable
    recorder->calls.clear();
    controller->reloadPorts();
    EXPECT_EQ(recorder->calls, Calls{});
}

// On real sockets: a listen port that is taken leaves its listener failed
// until a reload finds the port free.
TEST_F(ControllerTest, TakenListenPortShowsAsFailedUntilAReloadFindsItFree) {
    std::optional<UdpTestPeer> holder(std::in_place);
    const std::string taken = std::to_string(holder->port());
    settings.setIntegerForKey(holder->port(), "stagevueListenPort");
    for (const char* key : {"stagevueSendPort", "monomeSendPort", "monomeListenPort"})
        settings.setIntegerForKey(freePort(), key);
    controller = std::make_shared<VeltoController>(settings, loop);
    controller->awakeFromNib();
    EXPECT_NE(controller->portsDescription().find("listen " + taken + " (failed);"),
              std::string::npos);
    holder.reset();
    controller->reloadPorts();
    EXPECT_NE(controller->portsDescription().find("listen " + taken + ";"), std::string::npos);
}

TEST_F(ControllerTest, VideoAppIsGreetedOnFirstContactAndAfterASilence) {
    wake();
    EXPECT_EQ(tick().other, Calls{"/stagevue/ping,"}) << "at start";
    const struct {
        Duration quietBefore;
        const char* address;
        bool greeted;
    } steps[] = {
        {0s, "/monome/press", false},                // the grid's messages do not count
        {1s, "/stagevue/layer/media/time/1", true},  // first contact: it may have missed the start
        {0s, "/stagevue/layerNumber", false},
        {4999ms, "/stagevue/layer/media/time/1", false},
        {4999ms, "/stagevuex", false},  // any of its messages counts, even one that is ignored
        {5s, "/stagevue/layer/media/time/1", true},  // after a silence: it may have restarted
        {3s, "/monome/press", false},
        {1999ms, "/stagevue/layer/media/time/1", false},
    };
    for (const auto& step : steps) {
        clock.advance(step.quietBefore);
        deliver(messageBytes(step.address, {intArg(4), intArg(4), intArg(0)}));
        EXPECT_EQ(collect().other, step.greeted ? Calls{"/stagevue/ping,"} : Calls{})
            << step.address;
    }
}

TEST_F(ControllerTest, SharedControllerIsTheFirstWokenUntilItEnds) {
    wake();
    collect();
    MemorySettingsStore secondSettings;
    auto second = std::make_shared<VeltoController>(secondSettings, loop,
                                                    std::make_unique<RecordingEndpoints>());
    second->awakeFromNib();
    EXPECT_EQ(collect().other, Calls{"/stagevue/ping,"}) << "through the shared controller";
    second.reset();
    EXPECT_EQ(VeltoController::sharedVeltoController(), controller.get());
    controller.reset();
    EXPECT_EQ(VeltoController::sharedVeltoController(), nullptr);
    VeltoController::sendMessageWithAddress("/stagevue/ping");
    VeltoController::sendMessageWithAddressAndValue("/stagevue/layer/opacity/1", 50.0f);
    VeltoController::setLightAtXAndYWithState(3, 0, 1);  // nothing to send through: no crash
}

}  // namespace
}  // namespace velto::test

// Start-up of the controller: ports from the settings, the four endpoints, the
// greeting, the shared controller, the port setters and the outbound
// operations.

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

constexpr const char* kTopSlider = "/stagevue/layer/media/time/4";  // the monome's row 0

using ControllerStartupTest = UdpBridgeFixture;
using ControllerColdStartTest = Unstarted<UdpBridgeFixture>;
using ControllerTest = BridgeFixture;
using ControllerUnstartedTest = Unstarted<BridgeFixture>;

TEST_F(ControllerUnstartedTest, AbsentOrZeroPortsGiveTheDefaultsAndAreWrittenBack) {
    settings.setIntegerForKey(0, "stagevueListenPort");
    settings.setIntegerForKey(0, "monomeSendPort");
    wake();
    EXPECT_EQ((std::array{controller->stagevueSendPort(), controller->stagevueListenPort(),
                          controller->monomeSendPort(), controller->monomeListenPort()}),
              (std::array{5000, 5001, 8080, 8000}));
    const std::map<std::string, std::int64_t, std::less<>> expected = {{"monomeListenPort", 8000},
                                                                       {"monomeSendPort", 8080},
                                                                       {"stagevueListenPort", 5001},
                                                                       {"stagevueSendPort", 5000}};
    EXPECT_EQ(settings.values(), expected);
    EXPECT_EQ(recorder->opened,
              (std::vector<std::pair<Endpoint, std::int32_t>>{{Endpoint::videoAppSender, 5000},
                                                              {Endpoint::videoAppListener, 5001},
                                                              {Endpoint::gridSender, 8080},
                                                              {Endpoint::gridListener, 8000}}));
}

TEST_F(ControllerStartupTest, StoredPortsAreUsedAndKeptAndStartUpSendsOnlyTheGreeting) {
    EXPECT_EQ(controller->stagevueSender()->portNumber(), video.port());
    EXPECT_EQ(controller->stagevueSender()->destinationHostName(), "127.0.0.1");
    EXPECT_EQ(controller->monomeSender()->portNumber(), grid.port());
    EXPECT_EQ(controller->stagevueListener()->localPort(), stagevueListenPort);
    EXPECT_EQ(controller->monomeListener()->localPort(), monomeListenPort);
    const std::map<std::string, std::int64_t, std::less<>> stored = {
        {"monomeListenPort", monomeListenPort},
        {"monomeSendPort", grid.port()},
        {"stagevueListenPort", stagevueListenPort},
        {"stagevueSendPort", video.port()}};
    EXPECT_EQ(settings.values(), stored);
    EXPECT_EQ(startupTraffic.other, (std::vector<std::string>{"/stagevue/ping,"}));
    EXPECT_TRUE(startupTraffic.values.empty());
    EXPECT_TRUE(startupTraffic.lights.empty()) << "creating the controls draws nothing";
    EXPECT_TRUE(ticksFor(100ms).empty());
}

TEST_F(ControllerColdStartTest, PortsOutsideTheUdpRangeAreStoredUnchangedAndReachTheirLow16Bits) {
    storePeerPorts();
    const std::int64_t stored[] = {
        65536 + video.port(), static_cast<std::int64_t>(stagevueListenPort) - 65536,
        static_cast<std::int64_t>(grid.port()) - 65536, 65536 + monomeListenPort};
    for (std::size_t i = 0; i < 4; ++i) settings.setIntegerForKey(stored[i], kPortSettings[i].key);
    wake();
    EXPECT_EQ((std::array<std::int64_t, 4>{
                  controller->stagevueSendPort(), controller->stagevueListenPort(),
                  controller->monomeSendPort(), controller->monomeListenPort()}),
              (std::array{stored[0], stored[1], stored[2], stored[3]}));
    EXPECT_EQ(settings.integerForKey("monomeSendPort"), stored[2]);
    EXPECT_EQ(flush().other, (std::vector<std::string>{"/stagevue/ping,"}));
    const auto shown = [](std::int64_t value, std::uint16_t used) {
        return std::to_string(value) + " (port " + std::to_string(used) + ")";
    };
    EXPECT_EQ(controller->portsDescription(),
              "video app: send " + shown(stored[0], video.port()) + ", listen " +
                  shown(stored[1], stagevueListenPort) + "; grid: send " +
                  shown(stored[2], grid.port()) + ", listen " + shown(stored[3], monomeListenPort));

    ASSERT_TRUE(deliverOverUdp(pressBytes(3, 0, 1), monomeListenPort));
    ASSERT_TRUE(deliverOverUdp(pressBytes(5, 0, 1), stagevueListenPort));
    const auto sent = flush();
    EXPECT_EQ(sent.valuesFor(kTopSlider), (std::vector<float>{0.375f, 0.625f}));
    EXPECT_EQ(sent.lights.size(), 16u) << "the lights reach the grid's port";
}

TEST_F(ControllerUnstartedTest, VideoAppIsGreetedOnFirstContactAfterASilenceAndOnReload) {
    storePeerPorts();
    wake();
    const std::vector<std::string> greeting{"/stagevue/ping,"};
    EXPECT_EQ(flush().other, greeting) << "at start";
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
        SCOPED_TRACE(step.address);
        clock.advance(step.quietBefore);
        deliver(messageBytes(step.address, {intArg(4), intArg(4), intArg(0)}));
        EXPECT_EQ(sendPendingNow().other, step.greeted ? greeting : std::vector<std::string>{});
    }
    controller->reloadPorts();
    EXPECT_EQ(sendPendingNow().other, greeting) << "on reload";
}

TEST_F(ControllerStartupTest, SharedControllerIsTheFirstWokenAndOutboundOperationsNeedIt) {
    UdpTestPeer secondVideo;
    MemorySettingsStore secondSettings;
    secondSettings.setIntegerForKey(secondVideo.port(), "stagevueSendPort");
    for (const char* key : {"stagevueListenPort", "monomeSendPort", "monomeListenPort"}) {
        secondSettings.setIntegerForKey(freePort(), key);
    }
    auto second = std::make_shared<VeltoController>(secondSettings, loop);
    second->awakeFromNib();
    EXPECT_EQ(VeltoController::sharedVeltoController(), controller.get());
    EXPECT_EQ(flush().other, (std::vector<std::string>{"/stagevue/ping,"}))
        << "the second greeting goes out through the shared controller's sender";
    EXPECT_TRUE(collectFrom(secondVideo, true).empty());
    second.reset();
    EXPECT_EQ(VeltoController::sharedVeltoController(), controller.get());

    controller.reset();
    EXPECT_EQ(VeltoController::sharedVeltoController(), nullptr);
    VeltoController::sendMessageWithAddress("/stagevue/ping");
    VeltoController::sendMessageWithAddressAndValue("/stagevue/layer/opacity/1", 50.0f);
    VeltoController::setLightAtXAndYWithState(3, 0, 1);
    EXPECT_TRUE(ticksFor(50ms, 10ms).empty());

    wake();
    EXPECT_EQ(VeltoController::sharedVeltoController(), controller.get());
}

TEST_F(ControllerTest, LightGoesToTheGridWithItsRowTurnedOverAndItsBitsKept) {
    const struct {
        std::uint32_t x, y;
        std::int8_t state;
        SentLight sent;
    } cases[] = {{3, 0, 1, {3, 7, 1}},
                 {0, 7, 0, {0, 0, 0}},
                 {7, 8, 1, {7, -1, 1}},
                 {4294967295u, 0, -1, {-1, 7, -1}}};
    for (const auto& c : cases) VeltoController::setLightAtXAndYWithState(c.x, c.y, c.state);
    const auto sent = flush();
    ASSERT_EQ(sent.lights.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(sent.lights[i], cases[i].sent);
    EXPECT_TRUE(sent.values.empty() && sent.other.empty());
}

// --- Port setters ------------------------------------------------------------------

// Collects what a listener hands over, to tell one listener object from another.
class RecordingDelegate final : public HJOSCListenerDelegate {
public:
    void dispatchRawPacket(ByteView) override { ++received; }
    int received = 0;
};

// Marks the four endpoints so that a replaced one can be told from one that
// stayed: a message pending on each sender, a recording delegate on each listener.
class ControllerPortSetterTest : public UdpBridgeFixture {
protected:
    void SetUp() override {
        UdpBridgeFixture::SetUp();
        VeltoController::sendMessageWithAddressAndValue("/stagevue/mark", 1.0f);
        VeltoController::setLightAtXAndYWithState(0, 0, 1);
        controller->stagevueListener()->setDelegate(stagevueRecorder);
        controller->monomeListener()->setDelegate(monomeRecorder);
    }
    // Every endpoint but the one of kPortSettings[replaced] is still the marked one.
    void expectAllKeptBut(std::size_t replaced) {
        EXPECT_EQ(controller->stagevueSender()->mainBundle() != nullptr, replaced != 0);
        EXPECT_TRUE(replaced == 1 || reaches(stagevueListenPort, *stagevueRecorder));
        EXPECT_EQ(controller->monomeSender()->mainBundle() != nullptr, replaced != 2);
        EXPECT_TRUE(replaced == 3 || reaches(monomeListenPort, *monomeRecorder));
    }
    bool reaches(std::uint16_t port, const RecordingDelegate& recorder) {
        const int before = recorder.received;
        return deliverOverUdp(messageBytes("/probe"), port) && recorder.received == before + 1;
    }

    std::shared_ptr<RecordingDelegate> stagevueRecorder = std::make_shared<RecordingDelegate>();
    std::shared_ptr<RecordingDelegate> monomeRecorder = std::make_shared<RecordingDelegate>();
};

struct SetterCase {
    const char* name;
    void (VeltoController::*setter)(std::int32_t);
    std::size_t setting;  // index into kPortSettings: stagevue send, listen, monome send, listen
    bool samePort;
};

class ControllerSetterTest : public ControllerPortSetterTest,
                             public ::testing::WithParamInterface<SetterCase> {};

TEST_P(ControllerSetterTest, NewPortIsStoredAndReplacesOnlyItsOwnEndpoint) {
    const auto& c = GetParam();
    const bool listener = c.setting % 2 == 1;
    const std::uint16_t oldPorts[] = {video.port(), stagevueListenPort, grid.port(),
                                      monomeListenPort};
    UdpTestPeer newPeer;
    const std::uint16_t port = c.samePort ? oldPorts[c.setting]
                               : listener ? freePort()
                                          : newPeer.port();
    (controller.get()->*c.setter)(port);
    EXPECT_EQ(settings.integerForKey(kPortSettings[c.setting].key), port);
    expectAllKeptBut(c.setting);

    sendPendingNow();  // the marks
    if (listener) {
        ASSERT_TRUE(deliverOverUdp(pressBytes(3, 0, 1), port))
            << "the new listener hands over to the controller";
    } else {
        deliver(pressBytes(3, 0, 1));
    }
    auto sent = sendPendingNow();
    const auto atNewPeer = collectFrom(newPeer, c.setting == 0);
    EXPECT_EQ(atNewPeer.empty(), listener) << "a new sender sends to the new port";
    sent.append(atNewPeer);
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{kTopSlider, 0.375f}}));
    EXPECT_EQ(sent.lights, sliderRow(0, 3));

    if (listener && !c.samePort) {
        int error = 0;
        auto rebind = UdpSocket::open(error);
        EXPECT_EQ(rebind.bindAny(oldPorts[c.setting]), 0) << "the old listener let its port go";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Setters, ControllerSetterTest,
    ::testing::Values(
        SetterCase{"StagevueSend", &VeltoController::setStagevueSendPort, 0, false},
        SetterCase{"StagevueListen", &VeltoController::setStagevueListenPort, 1, false},
        SetterCase{"MonomeSend", &VeltoController::setMonomeSendPort, 2, false},
        SetterCase{"MonomeListen", &VeltoController::setMonomeListenPort, 3, false},
        SetterCase{"StagevueListenToItsOwnPort", &VeltoController::setStagevueListenPort, 1, true},
        SetterCase{"MonomeListenToItsOwnPort", &VeltoController::setMonomeListenPort, 3, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerPortSetterTest, ReloadAppliesOnlyThePortsThatChangedAndKeepsThoseNotStored) {
    controller->reloadPorts();
    expectAllKeptBut(4);               // none
    settings = MemorySettingsStore();  // a settings file that names no port, or none readable
    controller->reloadPorts();
    expectAllKeptBut(4);
    UdpTestPeer newGrid;
    settings.setIntegerForKey(newGrid.port(), "monomeSendPort");
    controller->reloadPorts();
    EXPECT_EQ(controller->monomeSendPort(), newGrid.port());
    expectAllKeptBut(2);

    // The two listen ports swapped in one reload: both listen on their new port.
    settings.setIntegerForKey(monomeListenPort, "stagevueListenPort");
    settings.setIntegerForKey(stagevueListenPort, "monomeListenPort");
    controller->reloadPorts();
    EXPECT_EQ(controller->stagevueListener()->localPort(), monomeListenPort);
    EXPECT_EQ(controller->monomeListener()->localPort(), stagevueListenPort);

    // A listener whose port is taken shows as failed; the next reload starts it again.
    std::uint16_t taken = 0;
    {
        const UdpTestPeer holder;
        taken = holder.port();
        settings.setIntegerForKey(taken, "stagevueListenPort");
        const Log::Capture capture;
        controller->reloadPorts();
        EXPECT_TRUE(capture.contains("bind " + std::to_string(taken) + ": Address already in use"));
        EXPECT_NE(
            controller->portsDescription().find(", listen " + std::to_string(taken) + " (failed);"),
            std::string::npos);
    }
    controller->reloadPorts();
    EXPECT_TRUE(controller->stagevueListener()->isListening());
    EXPECT_EQ(controller->stagevueListener()->localPort(), taken);
    EXPECT_EQ(controller->portsDescription().find("(failed)"), std::string::npos);
}

}  // namespace
}  // namespace velto::test

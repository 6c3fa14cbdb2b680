// Start-up of the controller: ports from the settings, the four endpoints, the
// greeting, the shared controller, the port setters and the outbound
// operations.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/osc/HJOSCListener.h"
#include "common/osc/HJOSCSender.h"
#include "support/BridgeFixture.h"

namespace velto::test {
namespace {

using velto::test::PrintTo;

using ControllerStartupTest = BridgeFixture;
using ControllerColdStartTest = UnstartedBridgeFixture;

// Collects what a listener hands over, to tell one listener object from another.
class RecordingDelegate final : public HJOSCListenerDelegate {
public:
    void dispatchRawPacket(ByteView data) override { received.emplace_back(data.begin(), data.end()); }
    std::vector<Bytes> received;
};

TEST_F(ControllerColdStartTest, EmptyStoreGivesTheDefaultPortsAndWritesThemBack) {
    // The one test that opens the default ports: that is what it is about.
    wake();
    EXPECT_EQ(controller->stagevueSendPort(), 5000);
    EXPECT_EQ(controller->stagevueListenPort(), 5001);
    EXPECT_EQ(controller->monomeSendPort(), 8080);
    EXPECT_EQ(controller->monomeListenPort(), 8000);
    const std::map<std::string, std::int64_t, std::less<>> expected = {
        {"monomeListenPort", 8000}, {"monomeSendPort", 8080}, {"stagevueListenPort", 5001}, {"stagevueSendPort", 5000}};
    EXPECT_EQ(settings.values(), expected);
    controller.reset();  // free the default ports at once
}

TEST_F(ControllerColdStartTest, StoredZeroCountsAsAbsent) {
    storePeerPorts();
    settings.setIntegerForKey(0, "stagevueSendPort");
    settings.setIntegerForKey(0, "monomeSendPort");
    wake();
    EXPECT_EQ(controller->stagevueSendPort(), 5000);
    EXPECT_EQ(controller->monomeSendPort(), 8080);
    EXPECT_EQ(settings.integerForKey("stagevueSendPort"), 5000);
    EXPECT_EQ(settings.integerForKey("monomeSendPort"), 8080);
    EXPECT_EQ(controller->stagevueListenPort(), stagevueListenPort);
    controller.reset();  // the greeting to port 5000 goes nowhere we read
}

TEST_F(ControllerStartupTest, StoredPortsAreUsedAndKept) {
    EXPECT_EQ(controller->stagevueSendPort(), video.port());
    EXPECT_EQ(controller->stagevueListenPort(), stagevueListenPort);
    EXPECT_EQ(controller->monomeSendPort(), grid.port());
    EXPECT_EQ(controller->monomeListenPort(), monomeListenPort);
    EXPECT_EQ(settings.integerForKey("stagevueSendPort"), video.port());
    EXPECT_EQ(settings.integerForKey("stagevueListenPort"), stagevueListenPort);
    EXPECT_EQ(settings.integerForKey("monomeSendPort"), grid.port());
    EXPECT_EQ(settings.integerForKey("monomeListenPort"), monomeListenPort);
    EXPECT_EQ(controller->stagevueSender()->portNumber(), video.port());
    EXPECT_EQ(controller->monomeSender()->portNumber(), grid.port());
    EXPECT_EQ(controller->stagevueSender()->destinationHostName(), "127.0.0.1");
    EXPECT_EQ(controller->stagevueListener()->localPort(), stagevueListenPort);
    EXPECT_EQ(controller->monomeListener()->localPort(), monomeListenPort);
}

TEST_F(ControllerColdStartTest, PortsOutsideTheUdpRangeAreStoredUnchangedAndReachTheirLow16Bits) {
    storePeerPorts();
    const std::int64_t stagevueSend = 65536 + video.port();
    const std::int64_t monomeSend = static_cast<std::int64_t>(grid.port()) - 65536;  // negative
    const std::int64_t monomeListen = 65536 + monomeListenPort;
    const std::int64_t stagevueListen = static_cast<std::int64_t>(stagevueListenPort) - 65536;
    settings.setIntegerForKey(stagevueSend, "stagevueSendPort");
    settings.setIntegerForKey(monomeSend, "monomeSendPort");
    settings.setIntegerForKey(monomeListen, "monomeListenPort");
    settings.setIntegerForKey(stagevueListen, "stagevueListenPort");
    wake();

    EXPECT_EQ(controller->stagevueSendPort(), stagevueSend);
    EXPECT_EQ(controller->monomeSendPort(), monomeSend);
    EXPECT_EQ(controller->monomeListenPort(), monomeListen);
    EXPECT_EQ(controller->stagevueListenPort(), stagevueListen);
    EXPECT_EQ(settings.integerForKey("stagevueSendPort"), stagevueSend);
    EXPECT_EQ(settings.integerForKey("monomeSendPort"), monomeSend);

    const auto greeting = flush();
    EXPECT_EQ(greeting.otherVideoMessages, (std::vector<std::string>{"/stagevue/ping,"}));

    ASSERT_TRUE(deliverOverUdp(pressBytes(3, 0, 1), monomeListenPort));
    ASSERT_TRUE(deliverOverUdp(pressBytes(5, 0, 1), stagevueListenPort));
    const auto sent = flush();
    EXPECT_EQ(sent.valuesFor("/stagevue/layer/media/time/4"), (std::vector<float>{0.375f, 0.625f}));
    EXPECT_EQ(sent.lights.size(), 16u) << "the lights reach the grid's port";
}

TEST_F(ControllerColdStartTest, GreetingIsTheOnlyMessageQueuedAtStartUpAndLeavesInABundleWithinOneTick) {
    storePeerPorts();
    wake();
    const auto& pending = controller->stagevueSender()->mainBundle();
    ASSERT_NE(pending, nullptr);
    ASSERT_EQ(pending->attachedObjects().size(), 1u);
    const HJOSCMessage* ping = pending->attachedObjects()[0]->asMessage();
    ASSERT_NE(ping, nullptr);
    EXPECT_EQ(ping->address().address(), "/stagevue/ping");
    EXPECT_TRUE(ping->attachedObjects().empty());
    EXPECT_EQ(controller->monomeSender()->mainBundle(), nullptr);

    const auto sent = flush();
    ASSERT_EQ(sent.videoPackets.size(), 1u);
    EXPECT_EQ(sent.videoPackets[0]->asMessage(), nullptr) << "every datagram is a bundle";
    EXPECT_EQ(sent.otherVideoMessages, (std::vector<std::string>{"/stagevue/ping,"}));
    EXPECT_TRUE(sent.values.empty());
    EXPECT_TRUE(sent.gridPackets.empty());
}

TEST_F(ControllerStartupTest, WokenControllerIsTheSharedOneAndStopsBeingItWhenDestroyed) {
    EXPECT_EQ(VeltoController::sharedVeltoController(), controller.get());
    controller.reset();
    EXPECT_EQ(VeltoController::sharedVeltoController(), nullptr);

    // Without a live controller the outbound operations do nothing.
    collect();
    VeltoController::sendMessageWithAddress("/stagevue/ping");
    VeltoController::sendMessageWithAddressAndValue("/stagevue/layer/opacity/1", 50.0f);
    VeltoController::setLightAtXAndYWithState(3, 0, 1);
    EXPECT_TRUE(ticksFor(50ms, 10ms).empty());

    wake();
    EXPECT_EQ(VeltoController::sharedVeltoController(), controller.get());
}

TEST_F(ControllerStartupTest, SecondControllerLeavesTheSharedOneAndSpeaksThroughItsSenders) {
    UdpTestPeer secondVideo;
    UdpTestPeer secondGrid;
    MemorySettingsStore secondSettings;
    secondSettings.setIntegerForKey(secondVideo.port(), "stagevueSendPort");
    secondSettings.setIntegerForKey(freePort(), "stagevueListenPort");
    secondSettings.setIntegerForKey(secondGrid.port(), "monomeSendPort");
    secondSettings.setIntegerForKey(freePort(), "monomeListenPort");
    auto second = std::make_shared<VeltoController>(secondSettings);
    second->awakeFromNib();

    EXPECT_EQ(VeltoController::sharedVeltoController(), controller.get());
    const auto sent = flush();
    EXPECT_EQ(sent.otherVideoMessages, (std::vector<std::string>{"/stagevue/ping,"}))
        << "the second greeting goes out through the first controller's sender";
    EXPECT_TRUE(readWaiting(secondVideo).empty());
    EXPECT_TRUE(readWaiting(secondGrid).empty());
    second.reset();
    EXPECT_EQ(VeltoController::sharedVeltoController(), controller.get());
}

// --- Port setters ------------------------------------------------------------------

// Marks the four endpoints so that a replaced one can be told from one that
// stayed: a message pending on each sender, a recording delegate on each
// listener.
class ControllerPortSetterTest : public BridgeFixture {
protected:
    void markEndpoints() {
        VeltoController::sendMessageWithAddressAndValue("/stagevue/mark", 1.0f);
        VeltoController::setLightAtXAndYWithState(0, 0, 1);
        controller->stagevueListener()->setDelegate(stagevueRecorder);
        controller->monomeListener()->setDelegate(monomeRecorder);
    }
    static bool isMarked(const HJOSCSender* sender) { return sender != nullptr && sender->mainBundle() != nullptr; }

    // Whether a datagram sent to the port reaches the recorder.
    bool reaches(std::uint16_t port, const RecordingDelegate& recorder) {
        const auto before = recorder.received.size();
        if (!deliverOverUdp(messageBytes("/probe"), port)) return false;
        return recorder.received.size() == before + 1;
    }

    std::shared_ptr<RecordingDelegate> stagevueRecorder = std::make_shared<RecordingDelegate>();
    std::shared_ptr<RecordingDelegate> monomeRecorder = std::make_shared<RecordingDelegate>();
};

TEST_F(ControllerPortSetterTest, NewMonomeListenPortReplacesOnlyThatListenerAndFreesTheOldPort) {
    markEndpoints();
    const std::uint16_t oldPort = monomeListenPort;
    const std::uint16_t newPort = freePort();
    controller->setMonomeListenPort(newPort);

    EXPECT_TRUE(isMarked(controller->stagevueSender()));
    EXPECT_TRUE(isMarked(controller->monomeSender()));
    EXPECT_TRUE(reaches(stagevueListenPort, *stagevueRecorder)) << "the video app's listener is the same object";
    EXPECT_EQ(settings.integerForKey("monomeListenPort"), newPort);
    EXPECT_EQ(controller->monomeListener()->localPort(), newPort);

    sendPendingNow();
    ASSERT_TRUE(deliverOverUdp(pressBytes(3, 0, 1), newPort));
    EXPECT_EQ(sendPendingNow().valuesFor("/stagevue/layer/media/time/4"), (std::vector<float>{0.375f}))
        << "the new listener hands its datagrams to the controller";
    EXPECT_TRUE(monomeRecorder->received.empty());

    int error = 0;
    auto rebind = UdpSocket::open(error);
    EXPECT_EQ(rebind.bindAny(oldPort), 0) << "the old listener let its port go";
}

TEST_F(ControllerPortSetterTest, NewStagevueListenPortReplacesOnlyThatListener) {
    markEndpoints();
    const std::uint16_t newPort = freePort();
    controller->setStagevueListenPort(newPort);

    EXPECT_TRUE(isMarked(controller->stagevueSender()));
    EXPECT_TRUE(isMarked(controller->monomeSender()));
    EXPECT_TRUE(reaches(monomeListenPort, *monomeRecorder));
    EXPECT_EQ(settings.integerForKey("stagevueListenPort"), newPort);
    EXPECT_EQ(controller->stagevueListener()->localPort(), newPort);
}

TEST_F(ControllerPortSetterTest, NewSendPortsReplaceOnlyTheirSenders) {
    UdpTestPeer newVideo;
    UdpTestPeer newGrid;
    markEndpoints();
    controller->setStagevueSendPort(newVideo.port());
    EXPECT_FALSE(isMarked(controller->stagevueSender())) << "a new sender holds nothing";
    EXPECT_TRUE(isMarked(controller->monomeSender()));
    EXPECT_TRUE(reaches(stagevueListenPort, *stagevueRecorder));
    EXPECT_TRUE(reaches(monomeListenPort, *monomeRecorder));
    EXPECT_EQ(settings.integerForKey("stagevueSendPort"), newVideo.port());

    controller->setMonomeSendPort(newGrid.port());
    EXPECT_EQ(settings.integerForKey("monomeSendPort"), newGrid.port());
    sendPendingNow();
    flush();  // whatever the old senders still held has gone to the old peers

    VeltoController::sendMessageWithAddressAndValue("/stagevue/layer/opacity/1", 50.0f);
    VeltoController::setLightAtXAndYWithState(3, 0, 1);
    flush();
    auto videoDatagram = newVideo.receiveNow();
    auto gridDatagram = newGrid.receiveNow();
    ASSERT_TRUE(videoDatagram.has_value());
    ASSERT_TRUE(gridDatagram.has_value());
    Traffic atNewPeers;
    decodeInto(atNewPeers, *videoDatagram, true);
    decodeInto(atNewPeers, *gridDatagram, false);
    EXPECT_EQ(atNewPeers.values, (std::vector<SentValue>{{"/stagevue/layer/opacity/1", 50.0f}}));
    EXPECT_EQ(atNewPeers.lights, (std::vector<SentLight>{{3, 7, 1}}));
}

struct SamePortCase {
    const char* name;
    void (VeltoController::*setter)(std::int32_t);
    std::int32_t (VeltoController::*getter)() const;
};

class ControllerSamePortTest : public BridgeFixture, public ::testing::WithParamInterface<SamePortCase> {};

TEST_P(ControllerSamePortTest, SettingAListenPortToItsOwnPortRebindsIt) {
    const auto port = (controller.get()->*GetParam().getter)();
    (controller.get()->*GetParam().setter)(port);
    ASSERT_TRUE(deliverOverUdp(pressBytes(3, 0, 1), static_cast<std::uint16_t>(port)))
        << "the datagram sent after the change is received";
    EXPECT_EQ(sendPendingNow().valuesFor("/stagevue/layer/media/time/4"), (std::vector<float>{0.375f}));
}

INSTANTIATE_TEST_SUITE_P(
    Listeners, ControllerSamePortTest,
    ::testing::Values(SamePortCase{"Stagevue", &VeltoController::setStagevueListenPort,
                                   &VeltoController::stagevueListenPort},
                      SamePortCase{"Monome", &VeltoController::setMonomeListenPort, &VeltoController::monomeListenPort}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerPortSetterTest, ReloadAppliesOnlyThePortsThatChanged) {
    markEndpoints();
    controller->reloadPorts();  // nothing changed
    EXPECT_TRUE(isMarked(controller->stagevueSender()));
    EXPECT_TRUE(isMarked(controller->monomeSender()));
    EXPECT_TRUE(reaches(stagevueListenPort, *stagevueRecorder));
    EXPECT_TRUE(reaches(monomeListenPort, *monomeRecorder));

    UdpTestPeer newGrid;
    settings.setIntegerForKey(newGrid.port(), "monomeSendPort");
    controller->reloadPorts();
    EXPECT_EQ(controller->monomeSendPort(), newGrid.port());
    EXPECT_FALSE(isMarked(controller->monomeSender())) << "the grid's sender was replaced";
    EXPECT_TRUE(isMarked(controller->stagevueSender()));
    EXPECT_TRUE(reaches(stagevueListenPort, *stagevueRecorder));
    EXPECT_TRUE(reaches(monomeListenPort, *monomeRecorder));
}

// --- Outbound operations ---------------------------------------------------------------

struct LightCase {
    const char* name;
    std::uint32_t x, y;
    std::int8_t state;
    SentLight sent;
};

class ControllerLightTest : public BridgeFixture, public ::testing::WithParamInterface<LightCase> {};

TEST_P(ControllerLightTest, LightGoesToTheGridWithItsRowTurnedOver) {
    const auto& c = GetParam();
    VeltoController::setLightAtXAndYWithState(c.x, c.y, c.state);
    const auto sent = flush();
    EXPECT_EQ(sent.lights, (std::vector<SentLight>{c.sent}));
    EXPECT_TRUE(sent.videoPackets.empty());
}

INSTANTIATE_TEST_SUITE_P(Cells, ControllerLightTest,
                         ::testing::Values(LightCase{"BottomRowOn", 3, 0, 1, {3, 7, 1}},
                                           LightCase{"TopRowOff", 0, 7, 0, {0, 0, 0}},
                                           LightCase{"RowAboveTheGridGoesOutNegative", 7, 8, 1, {7, -1, 1}},
                                           LightCase{"FarColumnAndNegativeStateKeepTheirBits", 4294967295u, 0, -1,
                                                     {-1, 7, -1}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerStartupTest, TwoLightsForOneCellInOneTickAreBothSentInCallOrder) {
    VeltoController::setLightAtXAndYWithState(2, 2, 1);
    VeltoController::setLightAtXAndYWithState(2, 2, 0);
    const auto sent = flush();
    EXPECT_EQ(sent.gridPackets.size(), 1u);
    EXPECT_EQ(sent.lights, (std::vector<SentLight>{{2, 5, 1}, {2, 5, 0}}));
}

TEST_F(ControllerStartupTest, ValueGoesToTheVideoAppAsOneFloat) {
    VeltoController::sendMessageWithAddressAndValue("/stagevue/layer/opacity/1", 50.0f);
    const auto sent = flush();
    EXPECT_EQ(sent.values, (std::vector<SentValue>{{"/stagevue/layer/opacity/1", 50.0f}}));
    EXPECT_TRUE(sent.otherVideoMessages.empty());
    EXPECT_TRUE(sent.gridPackets.empty());
}

TEST_F(ControllerStartupTest, MessageWithoutValueGoesToTheVideoAppWithoutArguments) {
    VeltoController::sendMessageWithAddress("/stagevue/ping");
    const auto sent = flush();
    EXPECT_EQ(sent.otherVideoMessages, (std::vector<std::string>{"/stagevue/ping,"}));
    EXPECT_TRUE(sent.gridPackets.empty());
}

}  // namespace
}  // namespace velto::test

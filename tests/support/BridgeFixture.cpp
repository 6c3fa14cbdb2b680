#include "support/BridgeFixture.h"

#include <thread>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCDecoder.h"

namespace velto::test {

std::vector<float> Traffic::valuesFor(std::string_view address) const {
    std::vector<float> result;
    for (const auto& value : values) {
        if (value.address == address) result.push_back(value.value);
    }
    return result;
}

void Traffic::append(const Traffic& more) {
    values.insert(values.end(), more.values.begin(), more.values.end());
    lights.insert(lights.end(), more.lights.begin(), more.lights.end());
    other.insert(other.end(), more.other.begin(), more.other.end());
}

std::shared_ptr<HJOSCMessage> makeMessage(std::string_view address,
                                          std::vector<HJOSCArgument> arguments) {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString(address));
    for (auto& argument : arguments) message->attachArgument(std::move(argument));
    return message;
}

std::shared_ptr<HJOSCBundle> makeBundle(std::vector<std::shared_ptr<HJOSCPacket>> elements,
                                        Date timeStamp) {
    auto bundle = HJOSCBundle::bundleWithTimestamp(timeStamp);
    for (auto& element : elements) {
        if (const HJOSCMessage* message = element->asMessage())
            bundle->attachObject(*message);
        else
            bundle->attachObject(std::static_pointer_cast<HJOSCBundle>(element));
    }
    return bundle;
}

Bytes encode(const HJOSCPacket& packet) { return packet.packetizedData().value(); }

Bytes messageBytes(std::string_view address, std::vector<HJOSCArgument> arguments) {
    return encode(*makeMessage(address, std::move(arguments)));
}

Bytes pressBytes(std::int32_t x, std::int32_t y, std::int32_t state) {
    return messageBytes("/monome/press", {intArg(x), intArg(y), intArg(state)});
}

std::vector<SentLight> sliderRow(std::int32_t monomeRow, std::int32_t litColumn) {
    std::vector<SentLight> lights;
    for (std::int32_t x = 0; x < 8; ++x) lights.push_back({x, monomeRow, x == litColumn ? 1 : 0});
    return lights;
}

std::vector<SentLight> faderColumn(std::int32_t x, std::int32_t bottom, std::int32_t middle,
                                   std::int32_t top) {
    return {{x, 6, bottom}, {x, 5, middle}, {x, 4, top}};  // grid rows 1, 2, 3
}

std::vector<SentLight> joined(std::initializer_list<std::vector<SentLight>> parts) {
    std::vector<SentLight> lights;
    for (const auto& part : parts) lights.insert(lights.end(), part.begin(), part.end());
    return lights;
}

namespace {

void flattenInto(Traffic& traffic, const HJOSCPacket& packet, bool toVideo) {
    for (const HJOSCMessage& message : HJOSCBundle::messagesOf(packet)) {
        const std::string address(message.address().address());
        const auto& arguments = message.attachedObjects();
        if (toVideo && arguments.size() == 1 && arguments[0].type() == 'f') {
            traffic.values.push_back({address, arguments[0].floatValue()});
        } else if (!toVideo && address == "/monome/led" && message.typeTagString() == ",iii") {
            traffic.lights.push_back(
                {arguments[0].intValue(), arguments[1].intValue(), arguments[2].intValue()});
        } else {
            traffic.other.push_back(address + message.typeTagString());
        }
    }
}

}  // namespace

void RecordingEndpoints::sendToVideoApp(HJOSCMessage message) {
    flattenInto(traffic, message, true);
}
void RecordingEndpoints::sendToGrid(HJOSCMessage message) { flattenInto(traffic, message, false); }

Traffic UdpBridgeFixture::collectFrom(UdpTestPeer& peer, bool isVideoApp) {
    Traffic traffic;
    while (auto datagram = peer.receiveNow()) {
        const auto packet = HJOSCDecoder::decodeData(*datagram);
        EXPECT_TRUE(packet) << "a peer received a datagram that does not decode";
        if (packet) flattenInto(traffic, *packet, isVideoApp);
    }
    return traffic;
}

Traffic BridgeFixture::collect() {
    return recorder && controller ? std::exchange(recorder->traffic, {}) : Traffic{};
}

Traffic UdpBridgeFixture::collect() {
    Traffic traffic = collectFrom(video, true);
    traffic.append(collectFrom(grid, false));
    return traffic;
}

void BridgeFixture::SetUp() {
    storePeerPorts();
    wake();
    ASSERT_EQ(VeltoController::sharedVeltoController(), controller.get());
    startupTraffic = flush();
    // The video app has answered: from here on it is greeted again only after a silence.
    deliver(messageBytes("/stagevue/layerNumber", {intArg(4)}));
    sendPendingNow();
}

void UdpBridgeFixture::storePeerPorts() {
    stagevueListenPort = freePort();
    monomeListenPort = freePort();
    settings.setIntegerForKey(video.port(), "stagevueSendPort");
    settings.setIntegerForKey(stagevueListenPort, "stagevueListenPort");
    settings.setIntegerForKey(grid.port(), "monomeSendPort");
    settings.setIntegerForKey(monomeListenPort, "monomeListenPort");
}

void BridgeFixture::wake() {
    auto endpoints = makeEndpoints();
    recorder = dynamic_cast<RecordingEndpoints*>(endpoints.get());
    controller = std::make_shared<VeltoController>(settings, loop, std::move(endpoints));
    controller->awakeFromNib();
}

Traffic BridgeFixture::flush() {
    clock.advance(HJOSCSender::kFlushInterval);
    loop.runOnce();
    return collect();
}

Traffic BridgeFixture::sendPendingNow() {
    if (controller) {
        if (auto* sender = controller->stagevueSender()) sender->sendMainBundle();
        if (auto* sender = controller->monomeSender()) sender->sendMainBundle();
    }
    return collect();
}

Traffic BridgeFixture::tick(Duration step) {
    clock.advance(step);
    loop.runOnce();
    return sendPendingNow();
}

Traffic BridgeFixture::ticksFor(Duration total, Duration step) {
    Traffic traffic;
    for (Duration passed{0}; passed < total; passed += step) traffic.append(tick(step));
    return traffic;
}

std::unique_ptr<VeltoEndpoints> BridgeFixture::makeEndpoints() {
    return std::make_unique<RecordingEndpoints>();
}

bool UdpBridgeFixture::deliverOverUdp(const Bytes& datagram, std::uint16_t port) {
    // With the clock standing still, the only work that can become ready is
    // the listener's hand-off of this datagram.
    loop.runUntilIdle();
    UdpTestPeer sender;
    EXPECT_TRUE(sender.sendTo(port, datagram));
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (loop.runOnce()) return true;
        std::this_thread::yield();
    }
    return false;
}

VTVerticalFader* BridgeFixture::faderWithAddress(std::string_view address) const {
    for (const auto& control : controller->controls()) {
        if (control->address() == address) return dynamic_cast<VTVerticalFader*>(control.get());
    }
    ADD_FAILURE() << "no control for " << address;
    return nullptr;
}

}  // namespace velto::test

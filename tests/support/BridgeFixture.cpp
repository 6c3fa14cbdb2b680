#include "support/BridgeFixture.h"

#include <thread>

#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCDecoder.h"

namespace velto::test {

std::ostream& operator<<(std::ostream& out, const SentValue& value) {
    return out << "{" << value.address << " " << value.value << "}";
}

std::ostream& operator<<(std::ostream& out, const SentLight& light) {
    return out << "{led " << light.x << " " << light.y << " " << light.state << "}";
}

std::vector<float> Traffic::valuesFor(std::string_view address) const {
    std::vector<float> result;
    for (const auto& value : values) {
        if (value.address == address) result.push_back(value.value);
    }
    return result;
}

void Traffic::append(const Traffic& more) {
    values.insert(values.end(), more.values.begin(), more.values.end());
    otherVideoMessages.insert(otherVideoMessages.end(), more.otherVideoMessages.begin(),
                              more.otherVideoMessages.end());
    lights.insert(lights.end(), more.lights.begin(), more.lights.end());
    otherGridMessages.insert(otherGridMessages.end(), more.otherGridMessages.begin(),
                             more.otherGridMessages.end());
    videoPackets.insert(videoPackets.end(), more.videoPackets.begin(), more.videoPackets.end());
    gridPackets.insert(gridPackets.end(), more.gridPackets.begin(), more.gridPackets.end());
}

// --- Peers -------------------------------------------------------------------

std::vector<Bytes> readWaiting(UdpTestPeer& peer) {
    std::vector<Bytes> datagrams;
    while (auto datagram = peer.receiveNow()) datagrams.push_back(std::move(*datagram));
    return datagrams;
}

// --- Building packets ----------------------------------------------------------

HJOSCArgument intArg(std::int32_t value) { return HJOSCArgument::withInt(value); }
HJOSCArgument floatArg(float value) { return HJOSCArgument::withFloat(value); }

std::shared_ptr<HJOSCMessage> makeMessage(std::string_view address, std::vector<HJOSCArgument> arguments) {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString(address));
    for (auto& argument : arguments) message->attachArgument(std::move(argument));
    return message;
}

std::shared_ptr<HJOSCBundle> makeBundle(std::vector<std::shared_ptr<HJOSCPacket>> elements, Date timeStamp) {
    auto bundle = HJOSCBundle::bundleWithTimestamp(timeStamp);
    for (auto& element : elements) bundle->attachObject(std::move(element));
    return bundle;
}

Bytes encode(const HJOSCPacket& packet) {
    auto bytes = packet.packetizedData();
    if (!bytes) {
        ADD_FAILURE() << "packet has no encoding";
        return {};
    }
    return *bytes;
}

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

std::vector<SentLight> faderColumn(std::int32_t x, std::int32_t bottom, std::int32_t middle, std::int32_t top) {
    // Grid rows 1, 2, 3 are the monome's rows 6, 5, 4.
    return {{x, 6, bottom}, {x, 5, middle}, {x, 4, top}};
}

// --- Decoding what the peers received --------------------------------------------

namespace {

std::string shapeOf(const HJOSCMessage& message) {
    return message.address().address() + message.typeTagString();
}

void flattenInto(Traffic& traffic, const HJOSCPacket& packet, bool toVideo) {
    if (const HJOSCMessage* message = packet.asMessage()) {
        const auto& arguments = message->attachedObjects();
        if (toVideo) {
            if (arguments.size() == 1 && arguments[0].type() == 'f') {
                traffic.values.push_back({message->address().address(), arguments[0].floatValue()});
            } else {
                traffic.otherVideoMessages.push_back(shapeOf(*message));
            }
        } else {
            if (message->address().address() == "/monome/led" && message->typeTagString() == ",iii") {
                traffic.lights.push_back({arguments[0].intValue(), arguments[1].intValue(), arguments[2].intValue()});
            } else {
                traffic.otherGridMessages.push_back(shapeOf(*message));
            }
        }
        return;
    }
    if (const auto* bundle = dynamic_cast<const HJOSCBundle*>(&packet)) {
        for (const auto& element : bundle->attachedObjects()) flattenInto(traffic, *element, toVideo);
    }
}

}  // namespace

void decodeInto(Traffic& traffic, const Bytes& datagram, bool toVideo) {
    auto packet = HJOSCDecoder::decodeData(datagram);
    if (!packet) {
        ADD_FAILURE() << "a peer received a datagram that does not decode (" << datagram.size() << " bytes)";
        return;
    }
    flattenInto(traffic, *packet, toVideo);
    (toVideo ? traffic.videoPackets : traffic.gridPackets).push_back(std::move(packet));
}

// --- The fixture -----------------------------------------------------------------

BridgeFixture::BridgeFixture() = default;

BridgeFixture::~BridgeFixture() {
    // The controller goes first: its senders and listeners use the loop.
    controller.reset();
}

void BridgeFixture::SetUp() {
    storePeerPorts();
    wakeAndSettle();
}

void BridgeFixture::storePeerPorts() {
    stagevueListenPort = freePort();
    monomeListenPort = freePort();
    settings.setIntegerForKey(video.port(), "stagevueSendPort");
    settings.setIntegerForKey(stagevueListenPort, "stagevueListenPort");
    settings.setIntegerForKey(grid.port(), "monomeSendPort");
    settings.setIntegerForKey(monomeListenPort, "monomeListenPort");
}

void BridgeFixture::wake() {
    controller = std::make_shared<VeltoController>(settings);
    controller->awakeFromNib();
}

void BridgeFixture::wakeAndSettle() {
    wake();
    ASSERT_EQ(VeltoController::sharedVeltoController(), controller.get());
    startupTraffic = flush();
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

Traffic BridgeFixture::collect() {
    Traffic traffic;
    for (const auto& datagram : readWaiting(video)) decodeInto(traffic, datagram, true);
    for (const auto& datagram : readWaiting(grid)) decodeInto(traffic, datagram, false);
    return traffic;
}

void BridgeFixture::deliver(const Bytes& datagram) { controller->dispatchRawPacket(datagram); }

bool BridgeFixture::deliverOverUdp(const Bytes& datagram, std::uint16_t port) {
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

VTControl* BridgeFixture::controlWithAddress(std::string_view address) const {
    for (const auto& control : controller->controls()) {
        if (control->address() == address) return control.get();
    }
    ADD_FAILURE() << "no control for " << address;
    return nullptr;
}

VTVerticalFader* BridgeFixture::faderWithAddress(std::string_view address) const {
    return dynamic_cast<VTVerticalFader*>(controlWithAddress(address));
}

}  // namespace velto::test

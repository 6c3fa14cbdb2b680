#include "support/BridgeFixture.h"

#include "common/osc/HJOSCAddress.h"

namespace velto::test {

std::shared_ptr<HJOSCMessage> makeMessage(std::string_view address,
                                          std::vector<HJOSCArgument> arguments) {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString(address));
    for (auto& argument : arguments) message->attachArgument(std::move(argument));
    return message;
}

Bytes messageBytes(std::string_view address, std::vector<HJOSCArgument> arguments) {
    return makeMessage(address, std::move(arguments))->packetizedData().value();
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

void record(Traffic& traffic, const HJOSCMessage& message, bool toVideo) {
    const std::string address(message.address().address());
    const auto& arguments = message.attachedObjects();
    if (toVideo && message.typeTagString() == ",f") {
        traffic.values.push_back({address, arguments[0].floatValue()});
    } else if (!toVideo && address == "/monome/led" && message.typeTagString() == ",iii") {
        traffic.lights.push_back(
            {arguments[0].intValue(), arguments[1].intValue(), arguments[2].intValue()});
    } else {
        traffic.other.push_back(address + message.typeTagString());
    }
}

}  // namespace

void RecordingEndpoints::open(Endpoint endpoint, std::int32_t port) {
    const auto i = static_cast<std::size_t>(endpoint);
    calls.push_back("open " + std::to_string(i) + " " + std::to_string(port));
    ports[i] = port;
    listening[i] = isListener(endpoint) && !refused.contains(port);
}
void RecordingEndpoints::stopListening(Endpoint endpoint) {
    const auto i = static_cast<std::size_t>(endpoint);
    calls.push_back("stop " + std::to_string(i));
    listening[i] = false;
}
bool RecordingEndpoints::isListening(Endpoint endpoint) const {
    return listening[static_cast<std::size_t>(endpoint)];
}
void RecordingEndpoints::sendToVideoApp(HJOSCMessage message) { record(traffic, message, true); }
void RecordingEndpoints::sendToGrid(HJOSCMessage message) { record(traffic, message, false); }

Traffic BridgeFixture::collect() {
    return recorder && controller ? std::exchange(recorder->traffic, {}) : Traffic{};
}

void BridgeFixture::SetUp() {
    wake();
    startupTraffic = flush();
    // The video app has answered: from here on it is greeted again only after a silence.
    deliver(messageBytes("/stagevue/layerNumber", {intArg(4)}));
    collect();
}

void BridgeFixture::wake() {
    auto endpoints = std::make_unique<RecordingEndpoints>();
    recorder = endpoints.get();
    controller = std::make_shared<VeltoController>(settings, loop, std::move(endpoints));
    controller->awakeFromNib();
}

Traffic BridgeFixture::tick(Duration step) {
    clock.advance(step);
    loop.runOnce();
    return collect();
}

Traffic BridgeFixture::ticksFor(Duration total, Duration step) {
    Traffic traffic;
    for (Duration passed{0}; passed < total; passed += step) {
        const Traffic more = tick(step);
        traffic.values.insert(traffic.values.end(), more.values.begin(), more.values.end());
        traffic.lights.insert(traffic.lights.end(), more.lights.begin(), more.lights.end());
        traffic.other.insert(traffic.other.end(), more.other.begin(), more.other.end());
    }
    return traffic;
}

VTVerticalFader* BridgeFixture::faderWithAddress(std::string_view address) const {
    for (const auto& control : controller->controls()) {
        if (control->address() == address) return dynamic_cast<VTVerticalFader*>(control.get());
    }
    ADD_FAILURE() << "no control for " << address;
    return nullptr;
}

}  // namespace velto::test

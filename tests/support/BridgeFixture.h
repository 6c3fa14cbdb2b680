#pragma once

// A whole bridge on a manual clock, for tests of the controller and its
// controls: the controller sends to a recorder and opens no socket. The test
// steps the clock and reads what was sent.

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "VeltoController.h"
#include "VeltoEndpoints.h"
#include "common/osc/HJOSCAddress.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"
#include "ui/VTHorizontalSlider.h"
#include "ui/VTVerticalFader.h"

namespace velto::test {

using namespace std::chrono_literals;

// A message with one float argument, as the video app received it.
struct SentValue {
    std::string address;
    float value = 0.0f;
    friend bool operator==(const SentValue&, const SentValue&) = default;
    friend std::ostream& operator<<(std::ostream& out, const SentValue& v) {
        return out << v.address << " " << v.value;
    }
};

// A "/monome/led" message as the grid received it: column, monome row, state.
using SentLight = std::array<std::int32_t, 3>;

// What reached the two peers, each in the order of arrival.
struct Traffic {
    std::vector<SentValue> values;   // video app: messages with one float argument
    std::vector<SentLight> lights;   // grid: "/monome/led" with three int32 arguments
    std::vector<std::string> other;  // any other message, as "address,types"

    bool empty() const { return values.empty() && lights.empty() && other.empty(); }
};

inline std::shared_ptr<HJOSCMessage> makeMessage(std::string_view address,
                                                 std::vector<HJOSCArgument> arguments = {}) {
    auto message = HJOSCMessage::messageWithHJOSCAddress(HJOSCAddress::addressWithString(address));
    for (auto& argument : arguments) message->attachArgument(std::move(argument));
    return message;
}
inline Bytes messageBytes(std::string_view address, std::vector<HJOSCArgument> arguments = {}) {
    return makeMessage(address, std::move(arguments))->packetizedData().value();
}
inline HJOSCArgument intArg(std::int32_t value) { return HJOSCArgument::withInt(value); }
inline HJOSCArgument floatArg(float value) { return HJOSCArgument::withFloat(value); }
// "/monome/press" with int32 x, y (monome rows, from the top) and state.
inline Bytes pressBytes(std::int32_t x, std::int32_t y, std::int32_t state) {
    return messageBytes("/monome/press", {intArg(x), intArg(y), intArg(state)});
}

// The eight lights of a slider's row (monome row), lit at `litColumn` (none if negative).
inline std::vector<SentLight> sliderRow(std::int32_t monomeRow, std::int32_t litColumn) {
    std::vector<SentLight> lights;
    for (std::int32_t x = 0; x < 8; ++x) lights.push_back({x, monomeRow, x == litColumn ? 1 : 0});
    return lights;
}
// The three lights of a fader in column x with origin row 1 (monome row 6), bottom up.
inline std::vector<SentLight> faderColumn(std::int32_t x, std::int32_t bottom, std::int32_t middle,
                                          std::int32_t top) {
    return {{x, 6, bottom}, {x, 5, middle}, {x, 4, top}};
}
inline std::vector<SentLight> joined(std::initializer_list<std::vector<SentLight>> parts) {
    std::vector<SentLight> lights;
    for (const auto& part : parts) lights.insert(lights.end(), part.begin(), part.end());
    return lights;
}

// Endpoints that keep what is sent, and the calls that open and stop them as
// "open <endpoint> <port>" and "stop <endpoint>". Listeners on a port in
// `refused` fail.
class RecordingEndpoints final : public VeltoEndpoints {
public:
    void open(Endpoint endpoint, std::int32_t port) override {
        const auto i = static_cast<std::size_t>(endpoint);
        calls.push_back("open " + std::to_string(i) + " " + std::to_string(port));
        listening[i] = isListener(endpoint) && !refused.contains(port);
    }
    void stopListening(Endpoint endpoint) override {
        const auto i = static_cast<std::size_t>(endpoint);
        calls.push_back("stop " + std::to_string(i));
        listening[i] = false;
    }
    bool isListening(Endpoint endpoint) const override {
        return listening[static_cast<std::size_t>(endpoint)];
    }
    void sendToVideoApp(HJOSCMessage message) override { record(message, true); }
    void sendToGrid(HJOSCMessage message) override { record(message, false); }
    void record(const HJOSCMessage& message, bool toVideo) {
        const std::string address(message.address().address());
        const std::string types = message.typeTagString();
        const auto& arguments = message.attachedObjects();
        if (toVideo && types == ",f")
            traffic.values.push_back({address, arguments[0].floatValue()});
        else if (!toVideo && address == "/monome/led" && types == ",iii")
            traffic.lights.push_back(
                {arguments[0].intValue(), arguments[1].intValue(), arguments[2].intValue()});
        else
            traffic.other.push_back(address + types);
    }

    Traffic traffic;
    std::vector<std::string> calls;
    std::set<std::int32_t> refused;
    bool listening[4] = {};
};

// Clock, run loop, settings, a recorder and a woken controller.
class BridgeFixture : public ::testing::Test {
protected:
    ~BridgeFixture() override { controller.reset(); }  // its endpoints use the loop

    void SetUp() override {
        wake();
        tick();
        // The video app has answered: from here on it is greeted again only after a silence.
        deliver(messageBytes("/stagevue/layerNumber", {intArg(4)}));
        collect();
    }
    // Make the controller and run its start-up.
    void wake() {
        auto endpoints = std::make_unique<RecordingEndpoints>();
        recorder = endpoints.get();
        controller = std::make_shared<VeltoController>(settings, loop, std::move(endpoints));
        controller->awakeFromNib();
    }

    // Advance the clock by `step`, run the loop once, then take what was sent.
    Traffic tick(Duration step = 25ms) { return ticksFor(step, step); }
    // Step the clock by `step` until `total` has passed, and take all that was sent.
    Traffic ticksFor(Duration total, Duration step = 25ms) {
        for (Duration passed{0}; passed < total; passed += step) {
            clock.advance(step);
            loop.runOnce();
        }
        return collect();
    }
    // Take what was sent so far.
    Traffic collect() {
        return recorder && controller ? std::exchange(recorder->traffic, {}) : Traffic{};
    }

    // Hand the datagram to the controller as a listener would.
    void deliver(const Bytes& datagram) { controller->dispatchRawPacket(datagram); }

    VTVerticalFader* faderWithAddress(std::string_view address) const {
        for (const auto& control : controller->controls()) {
            if (control->address() == address) return dynamic_cast<VTVerticalFader*>(control.get());
        }
        ADD_FAILURE() << "no control for " << address;
        return nullptr;
    }

    ManualClock clock;
    RunLoop loop{clock};
    MemorySettingsStore settings;
    RecordingEndpoints* recorder = nullptr;  // the controller's, while it lives
    std::shared_ptr<VeltoController> controller;
};

}  // namespace velto::test

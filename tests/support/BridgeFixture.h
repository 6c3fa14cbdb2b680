#pragma once

// A whole bridge on a manual clock, for tests of the controller and its
// controls: the controller sends to a recorder and opens no socket. The test
// steps the clock and reads what was sent.

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "VeltoController.h"
#include "VeltoEndpoints.h"
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
struct SentLight {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t state = 0;
    friend bool operator==(const SentLight&, const SentLight&) = default;
    friend std::ostream& operator<<(std::ostream& out, const SentLight& l) {
        return out << "led " << l.x << " " << l.y << " " << l.state;
    }
};

// What reached the two peers, each in the order of arrival.
struct Traffic {
    std::vector<SentValue> values;   // video app: messages with one float argument
    std::vector<SentLight> lights;   // grid: "/monome/led" with three int32 arguments
    std::vector<std::string> other;  // any other message, as "address,types"

    bool empty() const { return values.empty() && lights.empty() && other.empty(); }
};

std::shared_ptr<HJOSCMessage> makeMessage(std::string_view address,
                                          std::vector<HJOSCArgument> arguments = {});
Bytes messageBytes(std::string_view address, std::vector<HJOSCArgument> arguments = {});
// "/monome/press" with int32 x, y (monome rows, from the top) and state.
Bytes pressBytes(std::int32_t x, std::int32_t y, std::int32_t state);
inline HJOSCArgument intArg(std::int32_t value) { return HJOSCArgument::withInt(value); }
inline HJOSCArgument floatArg(float value) { return HJOSCArgument::withFloat(value); }

// The eight lights of a slider's row (monome row), lit at `litColumn` (none if negative).
std::vector<SentLight> sliderRow(std::int32_t monomeRow, std::int32_t litColumn);
// The three lights of a fader in column x with origin row 1, bottom up.
std::vector<SentLight> faderColumn(std::int32_t x, std::int32_t bottom, std::int32_t middle,
                                   std::int32_t top);
std::vector<SentLight> joined(std::initializer_list<std::vector<SentLight>> parts);

// Endpoints that keep what is sent, and the calls that open and stop them as
// "open <endpoint> <port>" and "stop <endpoint>". Listeners on a port in
// `refused` fail.
class RecordingEndpoints final : public VeltoEndpoints {
public:
    void open(Endpoint endpoint, std::int32_t port) override;
    void stopListening(Endpoint endpoint) override;
    bool isListening(Endpoint endpoint) const override;
    void sendToVideoApp(HJOSCMessage message) override;
    void sendToGrid(HJOSCMessage message) override;

    Traffic traffic;
    std::vector<std::string> calls;
    std::set<std::int32_t> refused;
    std::int32_t ports[4] = {};
    bool listening[4] = {};
};

// Clock, run loop, settings, a recorder and a woken controller.
class BridgeFixture : public ::testing::Test {
protected:
    ~BridgeFixture() override { controller.reset(); }  // its endpoints use the loop

    void SetUp() override;
    // Make the controller and run its start-up.
    void wake();

    // Advance the clock one flush slot, run the loop once, read the peers.
    Traffic flush() { return tick(HJOSCSender::kFlushInterval); }
    // Advance the clock by `step`, run the loop once, then take what was sent.
    Traffic tick(Duration step = 25ms);
    Traffic ticksFor(Duration total, Duration step = 25ms);
    // Take what was sent so far.
    Traffic collect();

    // Hand the datagram to the controller as a listener would.
    void deliver(const Bytes& datagram) { controller->dispatchRawPacket(datagram); }

    VTVerticalFader* faderWithAddress(std::string_view address) const;

    ManualClock clock;
    RunLoop loop{clock};
    MemorySettingsStore settings;
    RecordingEndpoints* recorder = nullptr;  // the controller's, while it lives
    std::shared_ptr<VeltoController> controller;
    Traffic startupTraffic;  // the first flush after start-up
};

// A fixture whose SetUp wakes nothing.
class UnstartedBridgeFixture : public BridgeFixture {
protected:
    void SetUp() override {}
};

}  // namespace velto::test

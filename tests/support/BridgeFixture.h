#pragma once

// A whole bridge on a manual clock, for tests of the controller and its
// controls. The controller's send ports point at two loopback sockets that
// stand for the video app and the grid; its listen ports are free ports found
// at set-up. The test steps the clock and reads what reached the two peers,
// decoded into flat lists of values and lights.
//
// Loopback delivery is synchronous on the systems we test on, so the
// datagrams that a flush sends are waiting on the peers' sockets as soon as
// the flush returns: reading them needs no waiting. Only datagrams that cross
// another thread (a listener's receive thread) are waited for, with a limit.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "VeltoController.h"
#include "common/osc/HJOSCArgument.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"
#include "platform/Bytes.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/SettingsStore.h"
#include "platform/Udp.h"
#include "support/UdpTestPeer.h"
#include "ui/VTControl.h"
#include "ui/VTHorizontalSlider.h"
#include "ui/VTVerticalFader.h"

namespace velto::test {

using namespace std::chrono_literals;

// A message with one float argument, as the video app received it.
struct SentValue {
    std::string address;
    float value = 0.0f;
    friend bool operator==(const SentValue&, const SentValue&) = default;
};
std::ostream& operator<<(std::ostream& out, const SentValue& value);

// A "/monome/led" message as the grid received it: column, monome row, state.
struct SentLight {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t state = 0;
    friend bool operator==(const SentLight&, const SentLight&) = default;
};
std::ostream& operator<<(std::ostream& out, const SentLight& light);

// What reached the two peers, in the order of arrival.
struct Traffic {
    std::vector<SentValue> values;               // video app: messages with one float argument
    std::vector<std::string> otherVideoMessages;  // video app: any other message, as "address,types"
    std::vector<SentLight> lights;               // grid: "/monome/led" with three int32 arguments
    std::vector<std::string> otherGridMessages;   // grid: any other message, as "address,types"
    std::vector<std::shared_ptr<HJOSCPacket>> videoPackets;  // one per datagram, decoded
    std::vector<std::shared_ptr<HJOSCPacket>> gridPackets;

    bool empty() const { return videoPackets.empty() && gridPackets.empty(); }
    std::vector<float> valuesFor(std::string_view address) const;
    void append(const Traffic& more);
};

// Every datagram waiting on the peer now, without blocking.
std::vector<Bytes> readWaiting(UdpTestPeer& peer);

// Building datagrams and packets to feed the controller.
std::shared_ptr<HJOSCMessage> makeMessage(std::string_view address, std::vector<HJOSCArgument> arguments = {});
std::shared_ptr<HJOSCBundle> makeBundle(std::vector<std::shared_ptr<HJOSCPacket>> elements,
                                        Date timeStamp = Date{0.0});
Bytes encode(const HJOSCPacket& packet);
Bytes messageBytes(std::string_view address, std::vector<HJOSCArgument> arguments = {});
// "/monome/press" with int32 x, y (monome rows, from the top) and state.
Bytes pressBytes(std::int32_t x, std::int32_t y, std::int32_t state);
HJOSCArgument intArg(std::int32_t value);
HJOSCArgument floatArg(float value);

// Eight lights of a slider's row (monome row), lit at `litColumn` (none if negative).
std::vector<SentLight> sliderRow(std::int32_t monomeRow, std::int32_t litColumn);
// The three lights of a fader in column x with origin row 1, bottom up, with
// the given states.
std::vector<SentLight> faderColumn(std::int32_t x, std::int32_t bottom, std::int32_t middle, std::int32_t top);

// Clock, run loop, settings, two peers and a woken controller. SetUp stores the
// four ports and wakes the controller; fixtures that need another start
// override SetUp and call the pieces themselves.
class BridgeFixture : public ::testing::Test {
protected:
    BridgeFixture();
    ~BridgeFixture() override;

    void SetUp() override;

    // Store the peers' ports as send ports and free ports as listen ports.
    void storePeerPorts();
    // Make the controller and run its start-up.
    void wake();
    // Wake, then flush the greeting into startupTraffic so that tests start
    // from silence.
    void wakeAndSettle();

    // Advance the clock 10 ms (one flush slot), run the loop once and read
    // what reached the peers.
    Traffic flush();
    // Send what the senders hold now, without moving the clock, and read it.
    Traffic sendPendingNow();
    // Advance the clock by `step`, run the loop once (due timers fire once),
    // then send what the senders hold and read it: the traffic of that step.
    Traffic tick(Duration step = 25ms);
    // Ticks of `step` until `total` has passed, traffic gathered in order.
    Traffic ticksFor(Duration total, Duration step = 25ms);
    // Read what is waiting on the peers now.
    Traffic collect();

    // Hand the datagram to the controller as a listener would.
    void deliver(const Bytes& datagram);
    // Send the datagram over UDP to `port` and run the loop until the
    // controller has handled it. False when nothing arrived in time.
    bool deliverOverUdp(const Bytes& datagram, std::uint16_t port);

    VTControl* controlWithAddress(std::string_view address) const;
    VTVerticalFader* faderWithAddress(std::string_view address) const;

    ManualClock clock;
    RunLoop loop{clock};  // first, so it is this thread's current loop
    MemorySettingsStore settings;
    UdpTestPeer video;
    UdpTestPeer grid;
    std::uint16_t stagevueListenPort = 0;
    std::uint16_t monomeListenPort = 0;
    std::shared_ptr<VeltoController> controller;
    Traffic startupTraffic;
};

// A fixture whose SetUp stores nothing and wakes nothing.
class UnstartedBridgeFixture : public BridgeFixture {
protected:
    void SetUp() override {}
};

// Parameter tables whose rows carry a `name` print as that name in failures
// (bring it into the table's namespace with `using velto::test::PrintTo;`).
template <typename Case>
    requires requires(const Case& c) { std::string_view(c.name); }
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// Decode one datagram into the flat lists of `traffic`.
void decodeInto(Traffic& traffic, const Bytes& datagram, bool toVideo);

}  // namespace velto::test

// The serialosc adapter's bridge, without sockets: what goes out, and where,
// for what comes in. Outgoing packets are compared as text, one line per
// packet: "serialosc /serialosc/list \"127.0.0.1\" 4000", "device@5000
// /monome/grid/led/set 1 2 1", "velto [/monome/press 0 0 1, /monome/press 0 0 0]"
// (a bundle).

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OscPeer.h"
#include "SerialoscBridge.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"

namespace velto::tools {
namespace {

using Bridge = SerialoscBridge;
using Lines = std::vector<std::string>;
using Packet = std::shared_ptr<HJOSCPacket>;

const Ipv4Endpoint kSerialosc{0x7F000001, 12002};  // 127.0.0.1, where the bridge asked

struct Arg {
    Arg(int value) : argument(HJOSCArgument::withInt(value)) {}  // NOLINT: implicit on purpose
    Arg(const char* text) : argument(HJOSCArgument::withString(text)) {}  // NOLINT
    Arg(float value) : argument(HJOSCArgument::withFloat(value)) {}       // NOLINT
    HJOSCArgument argument;
};

std::shared_ptr<HJOSCMessage> message(const std::string& address, std::vector<Arg> args = {}) {
    auto result = std::make_shared<HJOSCMessage>(std::string_view(address));
    for (auto& arg : args) result->attachArgument(arg.argument);
    return result;
}

Packet key(Arg x, Arg y, Arg state) { return message("/monome/grid/key", {x, y, state}); }

Packet device(const char* id, int port, const char* address = "/serialosc/device") {
    return message(address, {id, "monome 64", port});
}

std::shared_ptr<HJOSCBundle> bundle(std::vector<Packet> messages, double time = 1000.0) {
    auto result = std::make_shared<HJOSCBundle>(Date{time});
    for (auto& m : messages) result->attachObject(*m->asMessage());
    return result;
}

std::string text(const HJOSCPacket& packet) {
    if (const HJOSCMessage* m = packet.asMessage())
        return OscPeer::describe(m->address().address(),
                                 {m->attachedObjects().begin(), m->attachedObjects().end()});
    std::string line = "[";
    for (const auto& element : packet.asBundle()->attachedObjects())
        line += (line.size() > 1 ? ", " : "") + text(*element);
    return line + "]";
}

std::string map(const std::string& rows, int port = 5000, const std::string& prefix = "/monome") {
    return "device@" + std::to_string(port) + " " + prefix + "/grid/led/map 0 0 " + rows;
}

const std::string kOff = "0 0 0 0 0 0 0 0";
const std::string kDark = map(kOff);
const std::string kList = "serialosc /serialosc/list \"127.0.0.1\" 4000";
const std::string kNotify = "serialosc /serialosc/notify \"127.0.0.1\" 4000";

// Pointing the grid at us, with `also` before or after.
Lines configuration(int port, Lines before = {}, Lines after = {}) {
    const std::string to = "device@" + std::to_string(port) + " ";
    before.insert(before.end(), {to + "/sys/host \"127.0.0.1\"", to + "/sys/port 4000",
                                 to + "/sys/info \"127.0.0.1\" 4000"});
    before.insert(before.end(), after.begin(), after.end());
    return before;
}

class SerialoscBridgeTest : public ::testing::Test {
protected:
    Lines take(Bridge::Output output) {
        Lines lines;
        for (const auto& out : output.packets) {
            const std::string to = out.to == Bridge::Destination::serialosc ? "serialosc"
                                   : out.to == Bridge::Destination::velto
                                       ? "velto"
                                       : "device@" + std::to_string(out.devicePort);
            lines.push_back(to + " " + text(*out.packet));
        }
        notices_.insert(notices_.end(), output.notices.begin(), output.notices.end());
        return lines;
    }
    Lines fromGrid(const Packet& packet, Ipv4Endpoint from = kSerialosc) {
        return take(bridge_.processGridPacket(*packet, from));
    }
    Lines fromVelto(const Packet& packet) { return take(bridge_.processVeltoPacket(*packet)); }
    Lines light(int x, int y, int on) { return fromVelto(message("/monome/led", {x, y, on})); }
    Lines tick() { return take(bridge_.tick()); }

    // Start, the grid listed on port 5000, its info reply: ready and drawn.
    void startReady(int size = 8) {
        bridge_ = Bridge{Bridge::Config{4000, std::nullopt, 12002}};
        take(bridge_.start());
        fromGrid(device("m1", 5000));
        ASSERT_EQ(fromGrid(infoReply(size)), Lines{kDark});
        ASSERT_EQ(bridge_.state(), Bridge::State::ready);
    }
    static Packet infoReply(int size = 8) {
        return bundle({message("/sys/id", {"m1"}), message("/sys/size", {size, size}),
                       message("/sys/host", {"127.0.0.1"}), message("/sys/port", {4000}),
                       message("/sys/prefix", {"/monome"}), message("/sys/rotation", {0})});
    }
    std::size_t said(const std::string& fragment) const {
        return std::count_if(notices_.begin(), notices_.end(),
                             [&](auto& n) { return n.find(fragment) != n.npos; });
    }

    Bridge bridge_{Bridge::Config{4000, std::nullopt, 12002}};
    Lines notices_;
};

// --- Discovery ---------------------------------------------------------------

TEST_F(SerialoscBridgeTest, TicksAskAgainUntilAnswered) {
    EXPECT_EQ(take(bridge_.start()), Lines{kList});
    for (int i = 0; i < 3; ++i) EXPECT_EQ(tick(), Lines{kList});
    EXPECT_EQ(said("no grid yet; waiting for serialosc to report one"), 1u);
    // serialosc came late, and is asked for notifications once it is there; arcs are no grids.
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"a1", "monome arc 4", 5001})), Lines{kNotify});
    EXPECT_EQ(fromGrid(device("m1", 5000)), configuration(5000));
    // No prefix yet: the grid may not have heard us.
    EXPECT_EQ(tick(), configuration(5000, {}, {kList}));
    EXPECT_EQ(fromGrid(infoReply()), Lines{kDark});
    EXPECT_EQ(said("grid m1 ready: prefix /monome, 8x8"), 1u);
    // In use, one small request a second: does serialosc still serve it there?
    EXPECT_EQ(tick(), Lines{kList});
    EXPECT_EQ(fromGrid(device("m1", 5000)), Lines{});
}

TEST_F(SerialoscBridgeTest, NamedGridWaitedForWithOthersNamed) {
    bridge_ = Bridge{Bridge::Config{4000, std::string("m2"), 12002}};
    take(bridge_.start());
    EXPECT_EQ(fromGrid(device("m1", 5001)), Lines{kNotify});
    tick();
    EXPECT_EQ(said("grid m2 not found yet; waiting for serialosc to report it "
                   "(it reports m1 (monome 64))"),
              1u);
    EXPECT_EQ(fromGrid(message("/serialosc/add", {"m3", "monome 128", 5003})), Lines{kNotify});
    EXPECT_EQ(said("serialosc reports grid m3 (monome 128), not m2"), 1u);
    EXPECT_EQ(fromGrid(device("m2", 5002)), configuration(5002));
}

// --- Translation -------------------------------------------------------------

TEST_F(SerialoscBridgeTest, KeysAndLightsOfTopLeft8x8Pass) {
    ASSERT_NO_FATAL_FAILURE(startReady(16));
    EXPECT_EQ(said("16x16 (Velto uses the top-left 8x8)"), 1u);
    EXPECT_EQ(fromGrid(key(7, 6, 1)), Lines{"velto /monome/press 7 6 1"});
    EXPECT_EQ(light(2, 5, 1), Lines{"device@5000 /monome/grid/led/set 2 5 1"});
    // Keys beyond the 8x8, under another prefix or with other arguments are dropped.
    EXPECT_EQ(fromGrid(bundle({key(0, 7, 1), message("/sys/id", {"m1"}), key(8, 7, 1), key(0, 8, 1),
                               key(-1, 0, 1), message("/other/grid/key", {1, 1, 1}),
                               message("/monome/grid/key", {1, 1}), key(1, "1", 1), key(0, 7, 0)})),
              Lines{"velto [/monome/press 0 7 1, /monome/press 0 7 0]"});
    // A state of 2 is on; beyond the 8x8 and other addresses are dropped.
    EXPECT_EQ(
        fromVelto(bundle({message("/monome/led", {7, 1, 2}), message("/monome/led", {8, 1, 1}),
                          message("/monome/ledx", {1, 1, 1}), message("/monome/led", {0, 1, 0})})),
        Lines{"device@5000 [/monome/grid/led/set 7 1 1, /monome/grid/led/set 0 1 0]"});

    // Lights set while the grid is disconnected are kept, and drawn on connect.
    EXPECT_EQ(fromGrid(message("/sys/disconnect")), Lines{});
    EXPECT_EQ(light(1, 0, 1), Lines{});
    EXPECT_EQ(fromGrid(message("/sys/connect")), Lines{map("2 128 0 0 0 4 0 0")});
    EXPECT_EQ(light(1, 0, 0), Lines{"device@5000 /monome/grid/led/set 1 0 0"});
    // A connect while ready redraws too: the grid may have been reset behind our back.
    EXPECT_EQ(fromGrid(message("/sys/connect")), Lines{map("0 128 0 0 0 4 0 0")});

    // A big bundle goes out in parts of at most 8192 bytes, each at its time.
    const std::vector<Packet> lights(500, message("/monome/led", {1, 2, 1}));
    std::size_t sent = 0;
    for (const auto& outgoing : bridge_.processVeltoPacket(*bundle(lights, 7.0)).packets) {
        const HJOSCBundle* part = outgoing.packet->asBundle();
        ASSERT_TRUE(part && part->timeStamp() == Date{7.0});
        EXPECT_LE(part->packetizedData()->size(), 8192u);
        sent += part->attachedObjects().size();
    }
    EXPECT_EQ(sent, 500u);
}

// Whether serialosc tells the port with an add (or only the id, as older
// ones do), or only lists the grid there (it restarted), and whether the grid
// was removed first.
TEST_F(SerialoscBridgeTest, ReplugRedrawnOnNewPort) {
    for (const std::string replug :
         {"IdOnlyRemoved", "IdOnlyKept", "PortRemoved", "PortKept", "ListedKept"}) {
        SCOPED_TRACE(replug);
        const bool removed = replug.ends_with("Removed");
        ASSERT_NO_FATAL_FAILURE(startReady());
        light(7, 0, 1);
        if (removed) fromGrid(message("/serialosc/remove", {"m1"}));
        // Velto goes on while the grid is away: no lights to a grid that is gone.
        EXPECT_EQ(light(1, 7, 1),
                  removed ? Lines{} : Lines{"device@5000 /monome/grid/led/set 1 7 1"});
        if (replug.starts_with("IdOnly")) {
            EXPECT_EQ(fromGrid(message("/serialosc/add", {"m1"})), (Lines{kList, kNotify}));
            EXPECT_EQ(fromGrid(device("m1", 5050)), configuration(5050));
        } else {
            const char* to = replug.starts_with("Listed") ? "/serialosc/device" : "/serialosc/add";
            EXPECT_EQ(fromGrid(device("m1", 5050, to)), configuration(5050, {}, {kNotify}));
        }
        EXPECT_EQ(fromGrid(infoReply()), Lines{map("128 0 0 0 0 0 0 2", 5050)});
        EXPECT_EQ(light(2, 2, 1), Lines{"device@5050 /monome/grid/led/set 2 2 1"});
        EXPECT_EQ(fromGrid(key(0, 0, 1)), Lines{"velto /monome/press 0 0 1"});
    }
}

// --- What else reaches us while the grid is ready ----------------------------

const Ipv4Endpoint kOtherPort{0x7F000001, 12003};
const Ipv4Endpoint kOtherHost{0x0A000001, 12002};
const std::string kPrefixRule = "\" (a prefix starts with / and holds no #)";
const std::string kStranger = " from another sender than serialosc (port 12002)";

struct Input {
    Packet packet;
    Lines out;                // what goes out for it
    std::string notice = "";  // in the one line that says so; empty: not a word
    Ipv4Endpoint from = kSerialosc;
};

const Input kInputs[] = {
    {device("m1", 0, "/serialosc/add"), {kNotify}, "port 0 is outside 1 to 65535"},
    {device("m1", 65536), {}, "/device for grid m1: port 65536 is outside"},
    {device("m1", 5050, "/serialosc/add"), {}, "/add" + kStranger, kOtherPort},
    {device("m1", 5, "/serialosc/remove"), {}, "/remove" + kStranger, kOtherHost},
    {device("m2", 6000, "/serialosc/remove"), {kNotify}},
    {message("/serialosc/add", {"m2"}), {kNotify}},
    {message("/sys/prefix", {"monome"}), {}, "prefix \"monome" + kPrefixRule},
    {message("/sys/prefix", {"/a#b"}), {}, "m1: ignored the prefix \"/a#b\""},
    {message("/sys/prefix", {"/o"}), {map(kOff, 5000, "/o")}, "has the prefix /o"},
    {key(2.f, 3.f, 1.f), {"velto /monome/press 2 3 1"}},
    {key(-0.5f, 0, 1), {}},
};

TEST_F(SerialoscBridgeTest, InputsLeaveTheGridReady) {
    for (const Input& input : kInputs) {
        SCOPED_TRACE(text(*input.packet));
        ASSERT_NO_FATAL_FAILURE(startReady());
        notices_.clear();
        EXPECT_EQ(fromGrid(input.packet, input.from), input.out);
        EXPECT_EQ(notices_.size(), input.notice.empty() ? 0u : 1u);
        EXPECT_EQ(said(input.notice), notices_.size());
        EXPECT_EQ(bridge_.state(), Bridge::State::ready);
    }
}

// --- serialosc restarting ----------------------------------------------------

TEST_F(SerialoscBridgeTest, QuietSerialoscSaidGoneAndBackOnce) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    light(0, 2, 1);
    // Answered, the grid stays; the third tick unanswered lets it go.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(tick(), Lines{kList});
        if (i < 5) fromGrid(device("m1", 5000));
        EXPECT_EQ(bridge_.state(), i < 7 ? Bridge::State::ready : Bridge::State::searching) << i;
    }
    EXPECT_EQ(light(1, 2, 1), Lines{});

    EXPECT_EQ(fromGrid(device("m1", 5070)), configuration(5070, {kNotify}));
    EXPECT_EQ(fromGrid(infoReply()), Lines{map("0 0 3 0 0 0 0 0", 5070)});
    EXPECT_EQ(said("serialosc went away (no answer for 3 s); grid m1 waits for it"), 1u);
    EXPECT_EQ(said("serialosc is back"), 1u);
    EXPECT_EQ(said("waiting"), 0u);  // nor "no grid yet" besides

    // Listed no more while serialosc answers: let go, and the grid that is there taken instead.
    for (int i = 0; i < 3; ++i) {
        tick();
        fromGrid(device("m2", 6000));
    }
    EXPECT_EQ(said("grid m1 is no longer listed by serialosc; waiting for it"), 1u);
    EXPECT_EQ(bridge_.grid().value_or(Bridge::Grid{}).id, "m2");
    EXPECT_EQ(said("went away"), 1u);
}

}  // namespace
}  // namespace velto::tools

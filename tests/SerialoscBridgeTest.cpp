// The serialosc adapter's bridge, without sockets: what goes out, and where,
// for what comes in. Outgoing packets are compared as text, one line per
// packet: "serialosc /serialosc/list 127.0.0.1 4000", "device@5000
// /monome/grid/led/set 1 2 1", "velto [/monome/press 0 0 1, /monome/press 0 0 0]"
// (a bundle).

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "SerialoscBridge.h"
#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCSender.h"

namespace velto::tools {
namespace {

using Bridge = SerialoscBridge;
using Lines = std::vector<std::string>;

constexpr std::int32_t kOurPort = 4000;
constexpr std::int32_t kGridPort = 5000;
constexpr std::int32_t kSerialoscPort = 12002;
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

std::shared_ptr<HJOSCBundle> bundle(std::vector<std::shared_ptr<HJOSCPacket>> elements) {
    auto result = std::make_shared<HJOSCBundle>(Date{1000.0});
    for (auto& element : elements) {
        if (const HJOSCMessage* m = element->asMessage())
            result->attachObject(*m);
        else
            result->attachObject(std::static_pointer_cast<HJOSCBundle>(element));
    }
    return result;
}

std::string text(const HJOSCPacket& packet) {
    if (const HJOSCMessage* m = packet.asMessage()) {
        std::string line(m->address().address());
        for (const HJOSCArgument& argument : m->attachedObjects()) {
            line += ' ';
            line += argument.type() == 's' ? argument.stringValue()
                                           : std::to_string(argument.intValue());
        }
        return line;
    }
    std::string line = "[";
    for (const auto& element : packet.asBundle()->attachedObjects())
        line += (line.size() > 1 ? ", " : "") + text(*element);
    return line + "]";
}

std::string text(const Bridge::Outgoing& outgoing) {
    switch (outgoing.to) {
        case Bridge::Destination::serialosc:
            return "serialosc " + text(*outgoing.packet);
        case Bridge::Destination::velto:
            return "velto " + text(*outgoing.packet);
        case Bridge::Destination::device:
            break;
    }
    return "device@" + std::to_string(outgoing.devicePort) + " " + text(*outgoing.packet);
}

std::string map(std::initializer_list<int> rows, int port = kGridPort,
                const std::string& prefix = "/monome") {
    std::string line = "device@" + std::to_string(port) + " " + prefix + "/grid/led/map 0 0";
    for (const int row : rows) line += " " + std::to_string(row);
    return line;
}

const std::string kDark = map({0, 0, 0, 0, 0, 0, 0, 0});

Lines configuration(int port) {
    const std::string to = "device@" + std::to_string(port) + " ";
    return {to + "/sys/host 127.0.0.1", to + "/sys/port 4000", to + "/sys/info 127.0.0.1 4000"};
}

const std::string kList = "serialosc /serialosc/list 127.0.0.1 4000";
const std::string kNotify = "serialosc /serialosc/notify 127.0.0.1 4000";

class SerialoscBridgeTest : public ::testing::Test {
protected:
    void TearDown() override {
        // serialosc keeps the prefix and rotation per grid, for every application.
        for (const std::string& line : everything_) {
            EXPECT_EQ(line.find("/sys/prefix"), std::string::npos) << line;
            EXPECT_EQ(line.find("/sys/rotation"), std::string::npos) << line;
        }
    }

    Lines take(Bridge::Output output) {
        Lines lines;
        for (const auto& outgoing : output.packets) lines.push_back(text(outgoing));
        everything_.insert(everything_.end(), lines.begin(), lines.end());
        notices_.insert(notices_.end(), output.notices.begin(), output.notices.end());
        return lines;
    }
    Lines fromGrid(const std::shared_ptr<HJOSCPacket>& packet, Ipv4Endpoint from = kSerialosc) {
        return take(bridge_.processGridPacket(*packet, from));
    }
    Lines fromVelto(const std::shared_ptr<HJOSCPacket>& packet) {
        return take(bridge_.processVeltoPacket(*packet));
    }
    Lines tick() { return take(bridge_.tick()); }

    // Start, the grid listed on kGridPort, its info reply: ready and drawn.
    void startReady(const char* id = "m1", std::initializer_list<int> size = {8, 8}) {
        take(bridge_.start());
        fromGrid(message("/serialosc/device", {id, "monome 64", kGridPort}));
        const Lines drawn = fromGrid(infoReply(id, size));
        ASSERT_EQ(drawn, Lines{kDark});
        ASSERT_EQ(bridge_.state(), Bridge::State::ready);
    }
    static std::shared_ptr<HJOSCPacket> infoReply(const char* id,
                                                  std::initializer_list<int> size = {8, 8}) {
        return bundle({message("/sys/id", {id}),
                       message("/sys/size", {*size.begin(), *(size.begin() + 1)}),
                       message("/sys/host", {"127.0.0.1"}), message("/sys/port", {kOurPort}),
                       message("/sys/prefix", {"/monome"}), message("/sys/rotation", {0})});
    }
    bool said(const std::string& fragment) const {
        return std::any_of(notices_.begin(), notices_.end(), [&](const std::string& notice) {
            return notice.find(fragment) != std::string::npos;
        });
    }

    std::size_t saidCount(const std::string& fragment) const {
        return static_cast<std::size_t>(std::count_if(
            notices_.begin(), notices_.end(),
            [&](const std::string& notice) { return notice.find(fragment) != std::string::npos; }));
    }

    Bridge bridge_{Bridge::Config{kOurPort, std::nullopt, kSerialoscPort}};
    Lines everything_;
    Lines notices_;
};

// --- Discovery ---------------------------------------------------------------

TEST_F(SerialoscBridgeTest, StartsByAskingForTheGrids) {
    EXPECT_EQ(take(bridge_.start()), Lines{kList});
}

TEST_F(SerialoscBridgeTest, ListedGridIsPointedAtUsThenRedrawnWhenItTellsItsPrefix) {
    take(bridge_.start());
    // serialosc's first answer: now it can be asked for notifications.
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"m1", "monome 64", kGridPort})),
              (Lines{kNotify, configuration(kGridPort)[0], configuration(kGridPort)[1],
                     configuration(kGridPort)[2]}));
    EXPECT_EQ(bridge_.state(), Bridge::State::configuring);
    EXPECT_EQ(fromGrid(infoReply("m1")), Lines{kDark});
    EXPECT_EQ(bridge_.prefix(), "/monome");
    EXPECT_TRUE(said("grid m1 ready: prefix /monome, 8x8"));
    // A second listing of the same grid changes nothing.
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"m1", "monome 64", kGridPort})), Lines{});
}

TEST_F(SerialoscBridgeTest, AddedGridIsTakenInBothArgumentForms) {
    take(bridge_.start());
    // Current serialosc tells id, type and port: the grid is taken at once.
    EXPECT_EQ(fromGrid(message("/serialosc/add", {"m1", "monome 128", kGridPort})),
              (Lines{configuration(kGridPort)[0], configuration(kGridPort)[1],
                     configuration(kGridPort)[2], kNotify}));

    Bridge older{Bridge::Config{kOurPort, std::nullopt, kSerialoscPort}};
    take(older.start());
    // Older serialosc tells only the id: its port comes from a list.
    EXPECT_EQ(take(older.processGridPacket(*message("/serialosc/add", {"m1"}), kSerialosc)),
              (Lines{kList, kNotify}));
    EXPECT_EQ(take(older.processGridPacket(
                  *message("/serialosc/device", {"m1", "monome 128", kGridPort}), kSerialosc)),
              configuration(kGridPort));
}

TEST_F(SerialoscBridgeTest, NamedGridIsWaitedForWithTheOthersNamedAndArcsAreNeverTaken) {
    Bridge named{Bridge::Config{kOurPort, std::string("m2"), kSerialoscPort}};
    auto from = [&](const std::shared_ptr<HJOSCPacket>& packet) {
        return take(named.processGridPacket(*packet, kSerialosc));
    };
    take(named.start());
    EXPECT_EQ(from(message("/serialosc/device", {"m1", "monome 64", 5001})), Lines{kNotify});
    take(named.tick());
    EXPECT_TRUE(
        said("grid m2 not found yet; waiting for serialosc to report it "
             "(it reports m1 (monome 64))"));
    EXPECT_EQ(from(message("/serialosc/add", {"m3", "monome 128", 5003})), Lines{kNotify});
    EXPECT_TRUE(said("serialosc reports grid m3 (monome 128), not m2"));
    take(named.tick());
    EXPECT_EQ(saidCount("m3"), 1u);
    EXPECT_EQ(from(message("/serialosc/device", {"m2", "monome 64", 5002})), configuration(5002));

    take(bridge_.start());
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"a1", "monome arc 4", 5001})), Lines{kNotify});
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"m1", "monome 64", kGridPort})),
              configuration(kGridPort));
}

TEST_F(SerialoscBridgeTest, TicksAskAgainForWhatHasNotComeAndSayWaitingOnce) {
    take(bridge_.start());
    EXPECT_EQ(tick(), Lines{kList});
    EXPECT_EQ(tick(), Lines{kList});
    EXPECT_EQ(std::count_if(notices_.begin(), notices_.end(),
                            [](const std::string& n) { return n.find("waiting") != n.npos; }),
              1);
    // serialosc came late, and is asked for notifications once it is there.
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"m1", "monome 64", kGridPort})),
              (Lines{kNotify, configuration(kGridPort)[0], configuration(kGridPort)[1],
                     configuration(kGridPort)[2]}));
    // No prefix yet: the grid may not have heard us.
    Lines again = configuration(kGridPort);
    again.push_back(kList);
    EXPECT_EQ(tick(), again);
    fromGrid(infoReply("m1"));
    // In use, one small request a second: does serialosc still serve it there?
    EXPECT_EQ(tick(), Lines{kList});
}

TEST_F(SerialoscBridgeTest, NotificationIsAskedForOnceAndAgainAfterEachOne) {
    take(bridge_.start());
    fromGrid(message("/serialosc/device", {"a1", "monome arc 4", 5001}));
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"m2", "monome arc 2", 5002})), Lines{});
    EXPECT_EQ(fromGrid(message("/serialosc/remove", {"a1"})), Lines{kNotify});
    EXPECT_EQ(fromGrid(message("/serialosc/add", {"a1", "monome arc 4", 5001})), Lines{kNotify});
}

// --- Translation -------------------------------------------------------------

TEST_F(SerialoscBridgeTest, KeysBecomePressesForVeltoPlainOrInOneBundle) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    EXPECT_EQ(fromGrid(message("/monome/grid/key", {3, 4, 1})), Lines{"velto /monome/press 3 4 1"});
    EXPECT_EQ(fromGrid(bundle({message("/monome/grid/key", {0, 7, 1}), message("/sys/id", {"m1"}),
                               bundle({message("/monome/grid/key", {0, 7, 0})})})),
              Lines{"velto [/monome/press 0 7 1, /monome/press 0 7 0]"});
}

TEST_F(SerialoscBridgeTest, KeysOutsideTheTopLeftQuadrantOrNotOfThePrefixAreDropped) {
    ASSERT_NO_FATAL_FAILURE(startReady("m1", {16, 16}));
    EXPECT_TRUE(said("16x16 (Velto uses the top-left 8x8)"));
    for (const auto& key :
         {message("/monome/grid/key", {8, 0, 1}), message("/monome/grid/key", {0, 8, 1}),
          message("/monome/grid/key", {15, 15, 1}), message("/monome/grid/key", {-1, 0, 1}),
          message("/other/grid/key", {1, 1, 1}), message("/monome/grid/key", {1, 1}),
          message("/monome/grid/key", {1, "1", 1})}) {
        EXPECT_EQ(fromGrid(key), Lines{}) << text(*key);
    }
    EXPECT_EQ(fromGrid(message("/monome/grid/key", {7, 7, 1})), Lines{"velto /monome/press 7 7 1"});
}

TEST_F(SerialoscBridgeTest, LightsBecomeLedSetsInOrderAndOneBundleStaysOneBundle) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    EXPECT_EQ(fromVelto(message("/monome/led", {2, 5, 1})),
              Lines{"device@5000 /monome/grid/led/set 2 5 1"});
    // Velto's row of a slider: one bundle of eight, in order; a state of 2 is on.
    std::vector<std::shared_ptr<HJOSCPacket>> row;
    std::string expected = "device@5000 [";
    for (int x = 0; x < 8; ++x) {
        row.push_back(message("/monome/led", {x, 1, x == 4 ? 2 : 0}));
        expected += std::string(x ? ", " : "") + "/monome/grid/led/set " + std::to_string(x) +
                    " 1 " + (x == 4 ? "1" : "0");
    }
    row.push_back(message("/monome/led", {8, 1, 1}));  // beyond the 8x8: dropped
    row.push_back(message("/monome/ledx", {1, 1, 1}));
    EXPECT_EQ(fromVelto(bundle(row)), Lines{expected + "]"});
    EXPECT_TRUE(bridge_.lights().isLit(4, 1));
    EXPECT_TRUE(bridge_.lights().isLit(2, 5));
    EXPECT_FALSE(bridge_.lights().isLit(0, 1));
}

TEST_F(SerialoscBridgeTest, BundleTooLargeForOneDatagramIsSplitInOrder) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto big = std::make_shared<HJOSCBundle>(Date{7.0});
    for (int i = 0; i < 500; ++i)
        big->attachObject(*message("/monome/led", {i % 8, i / 8 % 8, i % 2}));
    const auto output = bridge_.processVeltoPacket(*big);
    ASSERT_GT(output.packets.size(), 1u);
    int next = 0;
    for (const auto& outgoing : output.packets) {
        const HJOSCBundle* part = outgoing.packet->asBundle();
        ASSERT_NE(part, nullptr);
        EXPECT_EQ(part->timeStamp(), Date{7.0});
        EXPECT_LE(part->packetizedData()->size(), HJOSCSender::kMaxBundleSize);
        for (const auto& element : part->attachedObjects()) {
            EXPECT_EQ(text(*element), "/monome/grid/led/set " + std::to_string(next % 8) + " " +
                                          std::to_string(next / 8 % 8) + " " +
                                          std::to_string(next % 2));
            ++next;
        }
    }
    EXPECT_EQ(next, 500);
}

// --- Light state and redraws -------------------------------------------------

TEST_F(SerialoscBridgeTest, RedrawSendsEachRowAsABitmaskWithColumnZeroLowest) {
    // Set before any grid is there: kept, and shown once one is.
    take(bridge_.start());
    for (const auto& [x, y] : {std::pair{0, 0}, {7, 0}, {3, 2}, {7, 7}, {5, 5}})
        EXPECT_EQ(fromVelto(message("/monome/led", {x, y, 1})), Lines{});
    fromVelto(message("/monome/led", {5, 5, 0}));
    fromGrid(message("/serialosc/device", {"m1", "monome 64", kGridPort}));
    EXPECT_EQ(fromGrid(infoReply("m1")), Lines{map({0x81, 0, 0x08, 0, 0, 0, 0, 0x80})});
}

TEST_F(SerialoscBridgeTest, DisconnectedGridKeepsItsLightsAndIsRedrawnOnConnect) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    fromVelto(message("/monome/led", {1, 0, 1}));
    EXPECT_EQ(fromGrid(message("/sys/disconnect")), Lines{});
    EXPECT_EQ(bridge_.state(), Bridge::State::disconnected);
    EXPECT_EQ(fromVelto(message("/monome/led", {2, 0, 1})), Lines{});
    EXPECT_EQ(fromGrid(message("/sys/connect")), Lines{map({0x06, 0, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(fromVelto(message("/monome/led", {2, 0, 0})),
              Lines{"device@5000 /monome/grid/led/set 2 0 0"});
    // A connect while ready redraws too: the grid may have been reset behind our back.
    EXPECT_EQ(fromGrid(message("/sys/connect")), Lines{map({0x02, 0, 0, 0, 0, 0, 0, 0})});
}

class SerialoscBridgeReplugTest : public SerialoscBridgeTest,
                                  public ::testing::WithParamInterface<bool> {};

TEST_P(SerialoscBridgeReplugTest, GridThatDisappearsIsRedrawnWhereItComesBack) {
    const bool onlyIds = GetParam();  // older serialosc
    auto change = [&](const char* address, int port) {
        return onlyIds ? message(address, {"m1"}) : message(address, {"m1", "monome 64", port});
    };
    ASSERT_NO_FATAL_FAILURE(startReady());
    fromVelto(message("/monome/led", {0, 0, 1}));

    EXPECT_EQ(fromGrid(change("/serialosc/remove", kGridPort)), (Lines{kList, kNotify}));
    EXPECT_EQ(bridge_.state(), Bridge::State::searching);
    EXPECT_TRUE(said("grid m1 is gone"));
    // Velto goes on while the grid is away; its keys are no longer ours.
    EXPECT_EQ(fromVelto(message("/monome/led", {1, 7, 1})), Lines{});
    EXPECT_EQ(fromGrid(message("/monome/grid/key", {0, 0, 1})), Lines{});
    EXPECT_EQ(tick(), Lines{kList});

    const int newPort = 5050;
    Lines added = fromGrid(change("/serialosc/add", newPort));
    if (onlyIds) {
        EXPECT_EQ(added, (Lines{kList, kNotify}));
        added = fromGrid(message("/serialosc/device", {"m1", "monome 64", newPort}));
        EXPECT_EQ(added, configuration(newPort));
    } else {
        EXPECT_EQ(added, (Lines{configuration(newPort)[0], configuration(newPort)[1],
                                configuration(newPort)[2], kNotify}));
    }
    EXPECT_EQ(fromGrid(infoReply("m1")), Lines{map({0x01, 0, 0, 0, 0, 0, 0, 0x02}, newPort)});
    EXPECT_EQ(fromGrid(message("/monome/grid/key", {0, 0, 1})), Lines{"velto /monome/press 0 0 1"});
}

TEST_P(SerialoscBridgeReplugTest, GridThatComesBackWithoutARemoveIsPointedAtUsAgain) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    const auto added = GetParam() ? message("/serialosc/add", {"m1"})
                                  : message("/serialosc/add", {"m1", "monome 64", kGridPort});
    const Lines out = fromGrid(added);
    EXPECT_EQ(out.back(), kNotify);
    EXPECT_NE(bridge_.state(), Bridge::State::ready);
}

INSTANTIATE_TEST_SUITE_P(ArgumentForms, SerialoscBridgeReplugTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "IdOnly" : "IdTypePort"; });

TEST_F(SerialoscBridgeTest, OtherGridsComingAndGoingLeaveOursAlone) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    EXPECT_EQ(fromGrid(message("/serialosc/remove", {"m2", "monome 64", 6000})), Lines{kNotify});
    EXPECT_EQ(fromGrid(message("/serialosc/add", {"m2"})), Lines{kNotify});
    EXPECT_EQ(bridge_.state(), Bridge::State::ready);
    EXPECT_EQ(fromVelto(message("/monome/led", {0, 0, 1})),
              Lines{"device@5000 /monome/grid/led/set 0 0 1"});
}

// --- Input that serialosc could not have sent --------------------------------

struct Refusal {
    const char* name;
    std::shared_ptr<HJOSCPacket> packet;
    Ipv4Endpoint from;
    Lines out;           // what goes out for it
    const char* notice;  // the one line that says so; none: dropped without a word
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class SerialoscBridgeRefusalTest : public SerialoscBridgeTest,
                                   public ::testing::WithParamInterface<Refusal> {};

TEST_P(SerialoscBridgeRefusalTest, IsRefusedAndTheGridStaysAsItWas) {
    const Refusal& refusal = GetParam();
    ASSERT_NO_FATAL_FAILURE(startReady());
    const std::size_t before = notices_.size();
    EXPECT_EQ(fromGrid(refusal.packet, refusal.from), refusal.out);
    if (refusal.notice) {
        ASSERT_EQ(notices_.size(), before + 1);
        EXPECT_EQ(notices_.back(), refusal.notice);
    } else {
        EXPECT_EQ(notices_.size(), before);
    }
    EXPECT_EQ(bridge_.state(), Bridge::State::ready);
    EXPECT_EQ(fromVelto(message("/monome/led", {0, 0, 1})),
              Lines{"device@5000 /monome/grid/led/set 0 0 1"});
}

const Refusal kRefusals[] = {
    {"PortZero",
     message("/serialosc/add", {"m1", "monome 64", 0}),
     kSerialosc,
     {kNotify},
     "ignored /serialosc/add for grid m1: port 0 is outside 1 to 65535"},
    {"PortNegative",
     message("/serialosc/add", {"m1", "monome 64", -1}),
     kSerialosc,
     {kNotify},
     "ignored /serialosc/add for grid m1: port -1 is outside 1 to 65535"},
    {"Port65536",
     message("/serialosc/device", {"m1", "monome 64", 65536}),
     kSerialosc,
     {},
     "ignored /serialosc/device for grid m1: port 65536 is outside 1 to 65535"},
    {"PortIntMax",
     message("/serialosc/add", {"m1", "monome 64", 2147483647}),
     kSerialosc,
     {kNotify},
     "ignored /serialosc/add for grid m1: port 2147483647 is outside 1 to 65535"},
    {"AddFromAnotherPort",
     message("/serialosc/add", {"m1", "monome 64", 5050}),
     Ipv4Endpoint{0x7F000001, 12003},
     {},
     "ignored /serialosc/add from another sender than serialosc (port 12002); such messages "
     "are not reported again"},
    {"RemoveFromAnotherHost",
     message("/serialosc/remove", {"m1", "monome 64", 5000}),
     Ipv4Endpoint{0x0A000001, 12002},
     {},
     "ignored /serialosc/remove from another sender than serialosc (port 12002); such messages "
     "are not reported again"},
    {"EmptyPrefix",
     message("/sys/prefix", {""}),
     kSerialosc,
     {},
     "grid m1: ignored the prefix \"\" (a prefix starts with / and holds no #)"},
    {"BundlePrefix",
     message("/sys/prefix", {"#bundle"}),
     kSerialosc,
     {},
     "grid m1: ignored the prefix \"#bundle\" (a prefix starts with / and holds no #)"},
    {"PrefixWithoutSlash",
     message("/sys/prefix", {"monome"}),
     kSerialosc,
     {},
     "grid m1: ignored the prefix \"monome\" (a prefix starts with / and holds no #)"},
    {"PrefixWithHash",
     message("/sys/prefix", {"/a#b"}),
     kSerialosc,
     {},
     "grid m1: ignored the prefix \"/a#b\" (a prefix starts with / and holds no #)"},
    {"KeyAtMinusHalf", message("/monome/grid/key", {-0.5f, 0, 1}), kSerialosc, {}, nullptr},
    {"KeyAtHalf", message("/monome/grid/key", {1, 0.5f, 1}), kSerialosc, {}, nullptr},
    {"KeyStateHalf", message("/monome/grid/key", {1, 1, 0.5f}), kSerialosc, {}, nullptr},
    {"KeyOfWholeFloats",
     message("/monome/grid/key", {2.0f, 3.0f, 1.0f}),
     kSerialosc,
     {"velto /monome/press 2 3 1"},
     nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cases, SerialoscBridgeRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// --- serialosc restarting ----------------------------------------------------

TEST_F(SerialoscBridgeTest, GridServedOnAnotherPortAfterAQuickRestartIsPointedAtUsAgain) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    fromVelto(message("/monome/led", {3, 1, 1}));
    EXPECT_EQ(tick(), Lines{kList});
    // The restarted serialosc lists the grid on a new port, and knows nothing of us.
    Lines expected = configuration(5060);
    expected.push_back(kNotify);
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"m1", "monome 64", 5060})), expected);
    EXPECT_TRUE(said("serialosc serves grid m1 on port 5060 now; pointing it at us again"));
    EXPECT_EQ(fromGrid(infoReply("m1")), Lines{map({0, 0x08, 0, 0, 0, 0, 0, 0}, 5060)});
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"m1", "monome 64", 5060})), Lines{});
    EXPECT_EQ(fromGrid(message("/serialosc/remove", {"m1", "monome 64", 5060})),
              (Lines{kList, kNotify}));
}

TEST_F(SerialoscBridgeTest, SerialoscThatGoesQuietIsSaidGoneOnceAndBackOnceThenServesTheGrid) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    fromVelto(message("/monome/led", {0, 2, 1}));
    // Answered: the grid stays.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tick(), Lines{kList});
        fromGrid(message("/serialosc/device", {"m1", "monome 64", kGridPort}));
    }
    EXPECT_EQ(tick(), Lines{kList});
    EXPECT_EQ(tick(), Lines{kList});
    EXPECT_EQ(bridge_.state(), Bridge::State::ready);
    EXPECT_EQ(tick(), Lines{kList});  // the third unanswered
    EXPECT_EQ(bridge_.state(), Bridge::State::searching);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(tick(), Lines{kList});
    EXPECT_EQ(fromVelto(message("/monome/led", {1, 2, 1})), Lines{});

    Lines expected{kNotify};
    const Lines configured = configuration(5070);
    expected.insert(expected.end(), configured.begin(), configured.end());
    EXPECT_EQ(fromGrid(message("/serialosc/device", {"m1", "monome 64", 5070})), expected);
    EXPECT_EQ(fromGrid(infoReply("m1")), Lines{map({0, 0, 0x03, 0, 0, 0, 0, 0}, 5070)});
    EXPECT_EQ(saidCount("serialosc went away (no answer for 3 s); grid m1 waits for it"), 1u);
    EXPECT_EQ(saidCount("serialosc is back"), 1u);
    EXPECT_EQ(saidCount("waiting"), 0u);  // nor "no grid yet" besides
}

TEST_F(SerialoscBridgeTest, GridNoLongerListedWhileOthersAreIsLetGo) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    for (int i = 0; i < 3; ++i) {
        tick();
        fromGrid(message("/serialosc/device", {"m2", "monome 64", 6000}));
    }
    EXPECT_TRUE(said("grid m1 is no longer listed by serialosc; waiting for it"));
    // Let go, and the grid that is there taken instead.
    ASSERT_TRUE(bridge_.grid());
    EXPECT_EQ(bridge_.grid()->id, "m2");
    EXPECT_FALSE(said("went away"));
}

}  // namespace
}  // namespace velto::tools

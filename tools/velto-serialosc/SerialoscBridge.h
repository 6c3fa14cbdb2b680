#pragma once

// The adapter between a grid served by serialosc and Velto, without any
// socket: it takes the packets that arrive and returns the packets to send,
// with where each goes, and the lines to tell the user.
//
// Two sides:
// - serialosc and the grid, both of which reach us on our own port: discovery
//   ("/serialosc/device", "/serialosc/add", "/serialosc/remove"), the grid's
//   "/sys/..." replies and notices, and "<prefix>/grid/key" x y s.
// - Velto, whose "/monome/led" x y s arrives on its monomeSendPort; presses go
//   to its monomeListenPort as "/monome/press" x y s.
//
// Life of the grid as the bridge sees it:
//   searching    no grid chosen: "/serialosc/list" on every tick
//   configuring  a grid chosen: pointed at us with "/sys/host" and "/sys/port",
//                asked for "/sys/info"; its prefix is not known yet
//   ready        prefix known: lights and presses are translated
//   disconnected the grid said "/sys/disconnect": lights are only kept
// Every step into ready, and every "/sys/connect", redraws the grid whole from
// the kept light state with one "<prefix>/grid/led/map".
//
// serialosc's "/serialosc/notify" asks for one notification only: it is sent
// when serialosc first answers, and again after each "/serialosc/add" or
// "/serialosc/remove".
//
// serialosc may restart, and then has forgotten that request and serves the
// grid on another port. So every tick asks "/serialosc/list" again, also
// while a grid is in use. A grid listed on another port than ours is pointed
// at us again, and notifications are asked for again (a restart took the
// request). When kUnansweredLimit lists in a row go without our grid, it is
// let go: "serialosc went away" when nothing came at all, else "no longer
// listed". When serialosc answers after such a silence, it is said to
// be back and asked for notifications again.
//
// Only what comes from serialosc's own address (127.0.0.1 and its discovery
// port, the address replies are sent from) is taken as discovery. Ports
// outside 1 to 65535 and prefixes that do not start with "/" or that hold "#"
// are refused with a line; numbers must be whole numbers (a key at -0.5 is
// no key).
//
// The grid's prefix and rotation are never set: serialosc keeps them per grid
// and other applications may rely on them. Only the top-left 8x8 of a larger
// grid is used.
//
// Main thread only (packets are main-thread objects).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "LightState.h"
#include "common/osc/HJOSCArgument.h"
#include "platform/Udp.h"

namespace velto {
class HJOSCMessage;
class HJOSCPacket;
}  // namespace velto

namespace velto::tools {

class SerialoscBridge {
public:
    static constexpr const char* kHost = "127.0.0.1";
    static constexpr std::uint32_t kHostAddress = 0x7F000001;  // kHost
    // Ticks (about a second each) in a row without our grid listed before it is let go.
    static constexpr int kUnansweredLimit = 3;
    static constexpr const char* kPressAddress = "/monome/press";
    static constexpr const char* kLightAddress = "/monome/led";

    enum class State { searching, configuring, ready, disconnected };
    enum class Destination { serialosc, device, velto };

    struct Config {
        std::int32_t listenPort = 0;        // ours, told to serialosc and the grid
        std::optional<std::string> device;  // the grid's id; none: the first grid
        std::int32_t serialoscPort = 0;     // serialosc's discovery port, on kHost
    };

    struct Outgoing {
        Destination to = Destination::velto;
        std::int32_t devicePort = 0;  // for Destination::device: the grid's port then
        std::shared_ptr<HJOSCPacket> packet;
    };

    // What one step produced, in the order it is to be sent and said.
    struct Output {
        std::vector<Outgoing> packets;
        std::vector<std::string> notices;
    };

    struct Grid {
        std::string id;
        std::string type;
        std::int32_t port = 0;
    };

    explicit SerialoscBridge(Config config);

    // Asks serialosc for its grids.
    Output start();
    // What arrived on our own port, from serialosc or from the grid.
    Output processGridPacket(const HJOSCPacket& packet, const Ipv4Endpoint& from);
    // What arrived from Velto.
    Output processVeltoPacket(const HJOSCPacket& packet);
    // Called about once a second: asks again for what has not come yet, and
    // whether serialosc still serves the grid where we think.
    Output tick();

    State state() const { return state_; }
    const std::optional<Grid>& grid() const { return grid_; }
    // Empty until the grid has told it.
    const std::string& prefix() const { return prefix_; }
    const LightState& lights() const { return lights_; }

private:
    void processGridMessage(const HJOSCMessage& message, bool fromSerialosc,
                            std::vector<std::shared_ptr<HJOSCMessage>>& presses);
    void deviceListed(std::span<const HJOSCArgument> arguments);
    void deviceAdded(std::span<const HJOSCArgument> arguments);
    void deviceRemoved(std::span<const HJOSCArgument> arguments);
    void prefixTold(const std::string& prefix);
    void connected();
    void disconnected();

    bool wanted(const std::string& id, const std::string& type);
    std::optional<std::int32_t> validPort(const std::string& address, const std::string& id,
                                          std::int32_t port);
    void gridListed(std::int32_t port);
    void letGridGo();
    void choose(Grid grid);
    void forgetGrid();
    void serialoscAnswered(bool toOurList);
    void sayWaiting();

    void sendToSerialosc(const std::string& address);
    void sendConfiguration();
    void redraw();
    void emit(Destination to, std::shared_ptr<HJOSCPacket> packet);
    // Plain messages stay plain; what came in one bundle goes out in one.
    void emitGroup(Destination to, const HJOSCPacket& source,
                   std::vector<std::shared_ptr<HJOSCMessage>> messages);
    void notice(std::string text);
    Output take();

    Config config_;
    State state_ = State::searching;
    std::optional<Grid> grid_;
    std::string prefix_;
    std::int32_t width_ = 0;  // from "/sys/size"; 0 until told
    std::int32_t height_ = 0;
    LightState lights_;

    // Whether serialosc has answered since it started or last went quiet.
    bool serialoscSeen_ = false;
    bool serialoscAway_ = false;  // said to have gone; to be said back
    int quietTicks_ = 0;          // ticks since serialosc last said anything
    int unlistedTicks_ = 0;       // ticks since our grid was last listed
    bool waitingSaid_ = false;
    bool strangerSaid_ = false;                 // discovery from elsewhere, said once
    std::optional<std::string> refusedPrefix_;  // said once until another comes
    std::vector<std::string> otherGrids_;       // "id (type)", for a named grid not there

    Output output_;
};

}  // namespace velto::tools

#pragma once

// The stand-in grid as serialosc serves a grid, without sockets: it answers
// discovery ("/serialosc/list", "/serialosc/notify") for the serialosc
// daemon, and on the grid's own port honours "/sys/port", "/sys/host",
// "/sys/prefix", "/sys/rotation" and "/sys/info", takes
// "<prefix>/grid/led/set", "/all" and "/map", and sends "<prefix>/grid/key" to
// the application that "/sys/port" and "/sys/host" name. It can be unplugged
// and plugged in again, as a real grid can.
//
// Coordinates are the grid's own: column x from the left, row y from the top.
// Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "GridState.h"
#include "common/osc/HJOSCArgument.h"

namespace velto {
class HJOSCMessage;
}

namespace velto::tools {

class SerialoscDevice {
public:
    static constexpr const char* kId = "velto-grid";
    static constexpr const char* kType = "monome 64";
    static constexpr const char* kDefaultPrefix = "/monome";

    struct Endpoint {
        std::string host;
        std::int32_t port = 0;
        friend bool operator==(const Endpoint&, const Endpoint&) = default;
    };
    struct Outgoing {
        Endpoint to;
        std::shared_ptr<HJOSCMessage> message;
        // serialosc answers discovery from its discovery port, and applications
        // may take discovery from that port only.
        bool fromDiscoveryPort = false;
    };
    struct LightChange {
        GridCell cell;
        bool lit = false;
    };
    // What one step produced: messages to send at once, lights to draw, and
    // lines that tell what happened.
    struct Output {
        std::vector<Outgoing> messages;
        std::vector<LightChange> lights;
        std::vector<std::string> events;
    };

    explicit SerialoscDevice(std::int32_t devicePort);

    // A message to serialosc's discovery port.
    Output processDiscoveryMessage(const HJOSCMessage& message);
    // A message to the grid's own port.
    Output processDeviceMessage(const HJOSCMessage& message);

    // A key going down (state 1) or up (0). Nothing is sent, and an event
    // says why, while unplugged or before an application has set "/sys/port".
    Output key(const GridPress& press);

    // Unplugged, the grid is no longer listed and takes nothing; serialosc
    // tells its subscribers ("/serialosc/remove") and the grid its
    // application ("/sys/disconnect").
    Output unplug();
    // Plugged in again, on a new port as serialosc may give it: every light
    // off, "/serialosc/add" to subscribers, "/sys/connect" to the application.
    // The application, prefix and rotation are kept, as serialosc keeps them.
    Output replug(std::int32_t devicePort);

    bool isPlugged() const { return plugged_; }
    std::int32_t devicePort() const { return devicePort_; }
    // Where keys go: none until "/sys/port" has been set.
    std::optional<Endpoint> application() const;
    const std::string& prefix() const { return prefix_; }
    std::int32_t rotation() const { return rotation_; }

private:
    void reply(const Endpoint& to, const std::string& address, std::vector<HJOSCArgument> arguments,
               bool fromDiscoveryPort = false);
    void tellSubscribers(const std::string& address);
    void tellApplication(const std::string& address, std::vector<HJOSCArgument> arguments = {});
    void sendInfo(const Endpoint& to);
    void setAll(bool lit);
    bool drawLights(const std::string& address, std::span<const HJOSCArgument> arguments);
    Output take();

    std::int32_t devicePort_;
    bool plugged_ = true;
    std::string applicationHost_ = "127.0.0.1";
    std::optional<std::int32_t> applicationPort_;
    std::string prefix_ = kDefaultPrefix;
    std::int32_t rotation_ = 0;
    std::vector<Endpoint> subscribers_;  // each asked for the next add or remove
    Output output_;
};

}  // namespace velto::tools

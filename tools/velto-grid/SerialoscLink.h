#pragma once

// velto-grid's serialosc mode on the network: serialosc's discovery port (which
// answers from itself, as serialosc does), the
// grid's own port (one that the system picks, a new one after each replug),
// and sending, at once and as plain messages, to wherever SerialoscDevice
// says. Lights to draw and lines to tell go to the handlers given.
//
// Main thread only; runs on the given run loop, which must outlive it.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DatagramPort.h"
#include "GridState.h"
#include "PacketRoute.h"
#include "SerialoscDevice.h"
#include "Status.h"
#include "common/Bytes.h"

namespace velto {
class HJOSCListener;
class HJOSCSender;
class RunLoop;
}  // namespace velto

namespace velto::tools {

class SerialoscLink {
public:
    static constexpr std::int32_t kDefaultDiscoveryPort = 12002;

    struct Options {
        bool enabled = false;
        std::int32_t discoveryPort = kDefaultDiscoveryPort;  // 0: one the system picks
    };
    // Takes "--serialosc" and "--serialosc-port N" (or "=N") out of the
    // arguments and leaves the rest; the reason, for the user, when the port
    // is not one.
    static Status takeOptions(std::vector<const char*>& arguments, Options& options);

    using LightHandler = std::function<void(GridCell cell, bool lit)>;
    using LineHandler = std::function<void(const std::string& line)>;

    // Null, with `error` saying why, when a port can't be listened on.
    static std::unique_ptr<SerialoscLink> open(RunLoop& loop, std::int32_t discoveryPort,
                                               LightHandler onLight, LineHandler onLine,
                                               std::string& error);
    ~SerialoscLink();
    SerialoscLink(const SerialoscLink&) = delete;
    SerialoscLink& operator=(const SerialoscLink&) = delete;

    // "serialosc discovery on port 12002, grid on port 40000"
    std::string describePorts() const;
    std::uint16_t discoveryPort() const;

    // False, with a line saying why, when the key could not be sent.
    bool sendKey(const GridPress& press);
    void unplug();
    // False, with `error` set, when no new port could be listened on.
    bool replug(std::string& error);

private:
    SerialoscLink(RunLoop& loop, LightHandler onLight, LineHandler onLine);
    bool listenOnDevicePort(std::string& error);
    void receive(ByteView data, bool discovery);
    void deliver(SerialoscDevice::Output output);
    HJOSCSender* senderFor(const SerialoscDevice::Endpoint& to);

    LightHandler onLight_;
    LineHandler onLine_;
    RunLoop& loop_;
    std::unique_ptr<SerialoscDevice> device_;
    std::shared_ptr<PacketRoute> deviceRoute_;
    std::unique_ptr<DatagramPort> discovery_;
    std::unique_ptr<HJOSCListener> deviceListener_;  // none while unplugged
    std::map<std::pair<std::string, std::int32_t>, std::unique_ptr<HJOSCSender>> senders_;
};

}  // namespace velto::tools

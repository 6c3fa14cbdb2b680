#pragma once

// velto-serialosc as a program: the bridge's sockets and timer. One port
// takes what serialosc and the grid send to us, with who sent it; one takes Velto's
// lights on its monomeSendPort; what the bridge returns is sent at once, one
// datagram per packet, so that a bundle stays a bundle and nothing waits.
// Notices go to standard output, one line each.

#include <cstdint>
#include <memory>

#include "DatagramPort.h"
#include "PacketRoute.h"
#include "SerialoscBridge.h"
#include "SerialoscOptions.h"
#include "ToolShell.h"
#include "common/Bytes.h"

namespace velto {
class HJOSCListener;
class HJOSCSender;
}  // namespace velto

namespace velto::tools {

class SerialoscApp {
public:
    // How often what has not come yet is asked for again.
    static constexpr Duration kRetryInterval = std::chrono::seconds(1);

    // The whole program: options, running, exit status (0 after SIGINT, SIGTERM
    // or SIGHUP, 1 failure, 2 bad options).
    static int main(int argc, const char* const* argv);

    explicit SerialoscApp(SerialoscOptions options);
    ~SerialoscApp();
    SerialoscApp(const SerialoscApp&) = delete;
    SerialoscApp& operator=(const SerialoscApp&) = delete;

    // Runs until a stop signal; the exit status.
    int run();

private:
    void receiveFromGrid(ByteView data, const Ipv4Endpoint& from);
    void receiveFromVelto(ByteView data);
    void deliver(SerialoscBridge::Output output);
    HJOSCSender* senderFor(const SerialoscBridge::Outgoing& outgoing);

    SerialoscOptions options_;
    ToolShell shell_;  // first: the loop outlives everything below
    std::unique_ptr<SerialoscBridge> bridge_;
    std::shared_ptr<PacketRoute> veltoRoute_;
    std::unique_ptr<DatagramPort> gridPort_;
    std::unique_ptr<HJOSCListener> veltoListener_;
    std::unique_ptr<HJOSCSender> serialoscSender_;
    std::unique_ptr<HJOSCSender> veltoSender_;
    std::unique_ptr<HJOSCSender> deviceSender_;  // to the grid's current port
    std::unique_ptr<Timer> retryTimer_;
};

}  // namespace velto::tools

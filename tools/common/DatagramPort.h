#pragma once

// One UDP port that both receives and sends, for the tools that must know who
// sent a datagram or must answer from the port they were asked on, as
// serialosc does. Datagrams are handed to a function on the main thread, with
// their sender, in the order of reception; at most kMaxWaiting wait for the
// main thread, beyond that new ones are dropped as a full socket buffer would
// drop them.
//
// Main thread only; receives on the given run loop, which must outlive the port.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/Bytes.h"
#include "platform/Udp.h"

namespace velto {
class HJOSCPacket;
class RunLoop;
}  // namespace velto

namespace velto::tools {

class DatagramPort {
public:
    static constexpr std::size_t kMaxWaiting = 4096;
    using Receive = std::function<void(ByteView data, const Ipv4Endpoint& from)>;

    // Bound to the port on every local IPv4 address (0: one the system picks).
    // Null, with `error` saying why ("Address already in use"), when it can't be.
    static std::unique_ptr<DatagramPort> open(RunLoop& loop, std::int32_t port, Receive receive,
                                              std::string& error);
    // Nothing is handed on once it has returned.
    ~DatagramPort();
    DatagramPort(const DatagramPort&) = delete;
    DatagramPort& operator=(const DatagramPort&) = delete;

    std::uint16_t localPort() const { return localPort_; }
    // One datagram, at once. False when it can't be encoded or the system refused it.
    bool send(const HJOSCPacket& packet, const Ipv4Endpoint& to);

private:
    struct HandOff;
    DatagramPort() = default;

    UdpSocket socket_;
    std::uint16_t localPort_ = 0;
    std::shared_ptr<HandOff> handOff_;
    std::unique_ptr<DatagramReceiver> receiver_;
};

}  // namespace velto::tools

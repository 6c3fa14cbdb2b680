#pragma once

// One of velto's peers (the video app or the grid) as a loopback socket whose
// receive thread records everything that arrives, each message stamped with
// the moment its datagram was received. Built on the project's own UDP layer
// (UdpSocket and DatagramReceiver), so the stamps are taken on the receive
// thread right after the receive returned.
//
// Waits are bounded and wake on every datagram; nothing sleeps for a fixed time.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "platform/Udp.h"

namespace velto::test {

struct Recording {
    using TimePoint = std::chrono::steady_clock::time_point;

    struct Value {  // a message with one float argument
        std::string address;
        float value = 0.0f;
        TimePoint arrived;
    };
    struct Light {  // "/monome/led" with three int32 arguments
        std::int32_t x = 0;
        std::int32_t y = 0;
        std::int32_t state = 0;
        TimePoint arrived;
    };

    std::vector<Value> values;
    std::vector<Light> lights;
    std::vector<std::string> otherAddresses;  // any other message
    std::size_t datagrams = 0;
    std::size_t undecodable = 0;

    // The values sent to one address, in order of arrival.
    std::vector<Value> valuesFor(const std::string& address) const;
};

class PeerRecorder {
public:
    enum class Keep { everything, countOnly };

    // Bound to the port on all local addresses (0: one that the system picks).
    // Throws std::runtime_error when the port can't be bound. countOnly
    // decodes nothing and only counts datagrams, for peers under a flood.
    explicit PeerRecorder(std::uint16_t port = 0, Keep keep = Keep::everything);
    ~PeerRecorder();
    PeerRecorder(const PeerRecorder&) = delete;
    PeerRecorder& operator=(const PeerRecorder&) = delete;

    std::uint16_t port() const { return port_; }

    Recording snapshot() const;
    std::size_t datagramCount() const;
    // Forget what was recorded so far.
    void clear();

    // Waits until the predicate holds for the recording, or the limit passes;
    // returns whether it held. The predicate runs with the recording locked.
    bool waitFor(const std::function<bool(const Recording&)>& predicate,
                 std::chrono::milliseconds limit) const;
    // Waits until no datagram has arrived for `quiet`, or `limit` passes.
    bool waitForQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const;

    // Sends a datagram from this peer's socket to 127.0.0.1 on the port.
    bool sendTo(std::uint16_t port, ByteView datagram);

private:
    void record(ByteView datagram);

    Keep keep_;
    UdpSocket socket_;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Recording recording_;
    Recording::TimePoint lastArrival_;
    std::unique_ptr<DatagramReceiver> receiver_;
};

}  // namespace velto::test

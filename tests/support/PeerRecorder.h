#pragma once

// One of velto's peers (the video app or the grid): a socket whose receive
// thread (the project's DatagramReceiver) records every message that arrives,
// stamped as soon as its receive returned. Waits are bounded and wake on
// every datagram; nothing sleeps for a fixed time.

#include <chrono>
#include <condition_variable>
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

    std::vector<Value> values;
    std::vector<std::string> otherAddresses;  // any other message

    // The values sent to one address, in order of arrival.
    std::vector<Value> valuesFor(const std::string& address) const;
};

class PeerRecorder {
public:
    enum class Keep { everything, countOnly };

    // Bound to the port (0: one that the system picks); throws
    // std::runtime_error when it can't be. countOnly decodes and keeps
    // nothing, for peers under a flood.
    explicit PeerRecorder(std::uint16_t port = 0, Keep keep = Keep::everything);
    ~PeerRecorder();
    PeerRecorder(const PeerRecorder&) = delete;
    PeerRecorder& operator=(const PeerRecorder&) = delete;

    std::uint16_t port() const { return port_; }
    Recording snapshot() const;
    void clear();  // forgets what was recorded so far

    // Waits until the predicate holds for the recording (it runs with the
    // recording locked) or the limit passes; returns whether it held.
    bool waitFor(const std::function<bool(const Recording&)>& predicate,
                 std::chrono::milliseconds limit) const;
    // Waits until no datagram has arrived for `quiet`, or `limit` passes.
    bool waitForQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const;

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

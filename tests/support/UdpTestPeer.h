#pragma once

// The far end of a loopback UDP conversation in transport tests: a socket bound
// to a port that the system picks, that sends datagrams and waits for them
// with a time limit (never a fixed sleep).

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "common/Bytes.h"
#include "platform/RunLoop.h"
#include "platform/Udp.h"

namespace velto::test {

inline constexpr std::uint32_t kLoopback = 0x7F000001;  // 127.0.0.1
inline constexpr std::chrono::milliseconds kWaitLimit{5000};

class UdpTestPeer {
public:
    UdpTestPeer();  // bound to a port the system picks

    std::uint16_t port() const { return port_; }
    UdpSocket& socket() { return socket_; }

    // The next datagram, or none when nothing arrives within the limit.
    std::optional<Bytes> receive(std::chrono::milliseconds limit = kWaitLimit);
    // A datagram that is already waiting, or none.
    std::optional<Bytes> receiveNow() { return receive(std::chrono::milliseconds(0)); }

    // Sends to 127.0.0.1 on the port. True when the system took it.
    bool sendTo(std::uint16_t port, ByteView datagram);

private:
    UdpSocket socket_;
    std::uint16_t port_ = 0;
};

// A port that was free a moment ago (bound and released at once).
std::uint16_t freePort();

// Steps the loop (without sleeping on its timers) until the condition holds or
// the time limit passes; returns the condition.
bool runLoopUntil(RunLoop& loop, const std::function<bool()>& condition,
                  std::chrono::milliseconds limit = kWaitLimit);

// Waits, without running any loop, until the condition (set by another
// thread) holds or the time limit passes; returns the condition.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = kWaitLimit);

}  // namespace velto::test

#include "support/UdpTestPeer.h"

#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>
#include <thread>

namespace velto::test {

UdpTestPeer::UdpTestPeer() {
    int error = 0;
    socket_ = UdpSocket::open(error);
    if (!socket_.isValid() || socket_.bindAny(0) != 0)
        throw std::runtime_error("test peer: cannot bind a UDP socket");
    port_ = socket_.localPort();
}

std::optional<Bytes> UdpTestPeer::receive(std::chrono::milliseconds limit) {
    pollfd ready{socket_.descriptor(), POLLIN, 0};
    Bytes buffer(65536);
    if (::poll(&ready, 1, static_cast<int>(limit.count())) != 1) return std::nullopt;
    const ssize_t got = ::recv(socket_.descriptor(), buffer.data(), buffer.size(), 0);
    if (got < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(got));
    return buffer;
}

bool UdpTestPeer::sendTo(std::uint16_t port, ByteView datagram) {
    return socket_.sendTo(datagram, Ipv4Endpoint{kLoopback, port}) == 0;
}

std::uint16_t freePort() { return UdpTestPeer().port(); }

bool runLoopUntil(RunLoop& loop, const std::function<bool()>& condition,
                  std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!loop.runOnce()) std::this_thread::yield();
    }
    return true;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace velto::test

#pragma once

// IPv4 UDP for the OSC transport: a socket, its destination addresses, and a
// receive thread that can be stopped at once.
//
// Thread safety: a UdpSocket belongs to one thread at a time. A
// DatagramReceiver calls its handler on its own thread; stop() is called on the
// thread that made it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/Bytes.h"

namespace velto {

// An IPv4 address and port, both in host byte order.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    friend bool operator==(const Ipv4Endpoint&, const Ipv4Endpoint&) = default;
};

// The first IPv4 address that the host name (or dotted address) resolves to.
// Prints nothing on failure.
std::optional<std::uint32_t> resolveIPv4(const std::string& host);

// Largest payload that one receive takes; longer datagrams are cut to it.
inline constexpr std::size_t kMaxDatagramSize = 65506;

class UdpSocket {
public:
    UdpSocket() = default;  // no socket
    ~UdpSocket();
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Opens an IPv4 datagram socket whose send buffer holds the largest
    // datagram where the system allows it; on failure the result is invalid
    // and errorOut holds errno.
    static UdpSocket open(int& errorOut);

    bool isValid() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }

    // Bind to the port on all local IPv4 addresses. 0 or errno.
    int bindAny(std::uint16_t port);
    // The port the socket is bound to (after binding to port 0), or 0.
    std::uint16_t localPort() const;
    // Send one datagram. 0 or errno.
    int sendTo(ByteView datagram, const Ipv4Endpoint& to);

    void close();

private:
    explicit UdpSocket(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// A thread that receives datagrams on a bound socket and hands each to a
// handler, on that thread, as a view valid during the call. A zero-length
// datagram is handed on like any other. stop() wakes the thread, waits for it
// to end and then returns; nothing is handed on after stop() has returned. If
// the handler throws, that datagram is lost, onError gets the exception's text
// and the thread goes on: it ends only with stop() or an unusable socket.
// A SourcedHandler also gets the datagram's sender.
//
// The constructor throws std::system_error ("pipe", "thread") or
// std::bad_alloc when the system refuses what the thread needs.
class DatagramReceiver {
public:
    using Handler = std::function<void(ByteView)>;
    using SourcedHandler = std::function<void(ByteView, const Ipv4Endpoint& from)>;
    using ErrorHandler = std::function<void(const std::string&)>;

    DatagramReceiver(const UdpSocket& socket, Handler handler, ErrorHandler onError);
    DatagramReceiver(const UdpSocket& socket, SourcedHandler handler, ErrorHandler onError);
    ~DatagramReceiver();  // stops
    DatagramReceiver(const DatagramReceiver&) = delete;
    DatagramReceiver& operator=(const DatagramReceiver&) = delete;

    void stop();
    bool isRunning() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velto

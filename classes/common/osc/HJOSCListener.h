#pragma once

// Receives UDP datagrams on one port, on all local IPv4 addresses, on a thread
// of its own, and hands each one, as raw bytes, to its delegate on the main
// thread without making the receive thread wait.
//
// The receive thread only copies and posts: it never decodes and never calls
// the delegate. Each datagram's call captures the delegate as it was when the
// datagram arrived, so one received before setDelegate still goes to the
// previous delegate. The hand-off is bounded: beyond kMaxWaitingDatagrams
// datagrams or kMaxWaitingBytes bytes waiting for the main thread, new ones are
// dropped, as a full socket buffer would drop them, and counted (reported once
// a second at most in verbose mode). A datagram that cannot be copied for want
// of memory is dropped too, counted and reported (in any mode); the receive
// thread goes on.
//
// Threads: everything is called on the main thread, whose run loop is given at
// construction and must outlive the listener.
// delegate() may be read on any thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/Bytes.h"
#include "common/osc/HJOSCListenerDelegate.h"
#include "platform/Clock.h"
#include "platform/Udp.h"

namespace velto {

class HJOSCDispatcher;
class RunLoop;
class Timer;

class HJOSCListener {
public:
    static constexpr std::size_t kMaxWaitingDatagrams = 4096;
    static constexpr std::size_t kMaxWaitingBytes = 1 << 20;

    // A listener whose delegate is a stock HJOSCDispatcher (owned by the
    // listener), already started on the port. Never null, also when the start
    // failed.
    static std::unique_ptr<HJOSCListener> defaultListenerOnPort(RunLoop& loop, std::int32_t port);

    explicit HJOSCListener(RunLoop& loop);  // not started, no delegate
    ~HJOSCListener();
    HJOSCListener(const HJOSCListener&) = delete;
    HJOSCListener& operator=(const HJOSCListener&) = delete;

    // Opens a socket, binds it to the low 16 bits of the port (0: the system
    // picks one) and starts the receive thread. A failure is logged as
    // "socket: <error>" or "bind <port>: <error>" and leaves the listener deaf;
    // after a failed bind the socket stays open until stopListening. Throws
    // std::system_error or std::bad_alloc when the system refuses the receive
    // thread what it needs (see DatagramReceiver).
    void startListeningOnPort(std::int32_t port);

    // Ends the receive thread and closes the socket. When it returns the port
    // is free and nothing more is received. Harmless when called again.
    void stopListening();

    // The delegate is not owned: an owner that is its listener's delegate makes
    // no cycle. Datagrams for a delegate that is gone are dropped.
    std::shared_ptr<HJOSCListenerDelegate> delegate() const;
    void setDelegate(std::weak_ptr<HJOSCListenerDelegate> delegate);

    // 0 before the start; -1 after stopListening or when the socket could not be opened.
    std::int32_t socketDescriptor() const { return socketDescriptor_.load(); }
    // The port that the last start bound (the one the system picked for port
    // 0), or 0 when no bind succeeded. Kept after stopListening.
    std::uint16_t localPort() const { return localPort_; }
    // Why the last start failed ("socket: <error>" or "bind <port>: <error>",
    // as logged); empty after a start that bound its port.
    const std::string& startError() const { return startError_; }

    // Whether the receive thread is running on a bound socket.
    bool isListening() const;

    // Datagrams received and not yet handed to the delegate.
    std::size_t waitingDatagramCount() const;
    // Datagrams dropped since the start because too many were waiting or
    // memory ran out.
    std::uint64_t droppedDatagramCount() const;

private:
    struct HandOff;

    void reportDrops();

    std::shared_ptr<HandOff> handOff_;  // shared with the receive thread and the posted calls
    std::shared_ptr<HJOSCDispatcher> stockDispatcher_;
    RunLoop& loop_;
    UdpSocket socket_;
    std::atomic<std::int32_t> socketDescriptor_{0};
    std::uint16_t localPort_ = 0;
    std::string startError_;
    std::unique_ptr<DatagramReceiver> receiver_;

    // Reporting of dropped datagrams, on the main thread.
    std::unique_ptr<Timer> reportTimer_;
    bool hasReported_ = false;
    Instant nextReportAllowed_{};
};

}  // namespace velto

#pragma once

// Sends OSC to one fixed IPv4 destination. Messages handed to addOSCMessage are
// gathered into one pending bundle, stamped with the date of the first of them,
// and the bundle leaves at the next 10 ms tick of the sender's schedule
// (creation + k * 10 ms), so a burst of messages within a tick costs one
// datagram.
//
// The flush timer is armed only while a bundle is pending, as a one-shot timer
// at the next slot of that schedule: an idle sender never wakes the process,
// yet every bundle leaves exactly when a timer ticking every 10 ms would have
// sent it, also when the loop was busy across a slot (it leaves at once).
//
// A pending bundle that encodes to more than kMaxBundleSize bytes leaves in the
// same tick as several bundles of at most that size, in message order, all
// with the same time stamp; a single larger message travels alone. Systems
// refuse large datagrams (macOS above 9216 bytes by default) and a refused
// bundle would be lost whole.
//
// The pending bundle never grows past kMaxPendingSize encoded bytes: the
// message that takes it past sends it at once, split as above, so that a flood
// of work costs datagrams rather than memory.
//
// A datagram the system refuses (too large for it, no buffer space) is lost,
// counted and logged as "dropped a datagram of <n> bytes for port <port>:
// <error> (<count> so far)", once a second at most; the count goes on.
//
// Main thread only: the sender uses the run loop it is given, for its timer and
// its clock; that loop must outlive it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/Bytes.h"
#include "platform/Clock.h"
#include "platform/Udp.h"

namespace velto {

class HJOSCBundle;
class HJOSCMessage;
class HJOSCPacket;
class RunLoop;
class Timer;

class HJOSCSender {
public:
    static constexpr Duration kFlushInterval = std::chrono::milliseconds(10);
    static constexpr std::size_t kMaxBundleSize = 8192;
    static constexpr std::size_t kMaxPendingSize = 65536;

    // Null when the socket can't be opened (logged as "socket: <error>"), when
    // the host is empty or doesn't resolve (nothing logged). Only the low 16
    // bits of the port count.
    static std::unique_ptr<HJOSCSender> senderWithDestinationHostName(RunLoop& loop,
                                                                      const std::string& host,
                                                                      std::int32_t port);

    // Sends the pending bundle at once, then stops the timer and closes the socket.
    ~HJOSCSender();
    HJOSCSender(const HJOSCSender&) = delete;
    HJOSCSender& operator=(const HJOSCSender&) = delete;

    // Opens the socket and resolves the destination. True on success.
    bool prepareSocket();

    // Encodes the packet and sends it at once as one datagram. False when
    // there is nothing to encode or the system refused it.
    bool sendOSCPacket(const HJOSCPacket& packet);

    // Adds the message to the pending bundle; sends nothing.
    void addOSCMessage(HJOSCMessage message);

    // The tick: sends the pending bundle, if any, and drops it whether or not
    // the system took it.
    void sendMainBundle();

    const std::string& destinationHostName() const { return destinationHostName_; }
    std::int32_t portNumber() const { return portNumber_; }
    // The resolved destination; meaningful once prepareSocket has succeeded.
    const Ipv4Endpoint& destinationAddress() const { return destinationAddress_; }
    std::int32_t socketDescriptor() const { return socket_.descriptor(); }
    // Datagrams the system refused since the sender was made.
    std::uint64_t refusedDatagramCount() const { return refusedDatagrams_; }
    // The pending bundle, or null while nothing is pending.
    const std::shared_ptr<HJOSCBundle>& mainBundle() const { return mainBundle_; }

private:
    HJOSCSender(RunLoop& loop, std::string host, std::int32_t port);

    void armFlush();
    void sendSplit(const HJOSCBundle& bundle);
    bool sendEncoded(ByteView datagram, const HJOSCPacket& packet);
    void noteRefusal(std::size_t size, int error);

    RunLoop& loop_;
    const Instant scheduleOrigin_;  // t0 of the tick schedule
    const std::string destinationHostName_;
    const std::int32_t portNumber_;
    Ipv4Endpoint destinationAddress_;
    UdpSocket socket_;
    std::shared_ptr<HJOSCBundle> mainBundle_;
    std::size_t pendingSize_ = 0;   // encoded size of mainBundle_
    std::unique_ptr<Timer> timer_;  // armed while a bundle is pending
    Bytes encodeBuffer_;            // reused for every datagram
    std::uint64_t refusedDatagrams_ = 0;
    std::optional<Instant> nextRefusalLog_;  // none: no refusal logged yet
};

}  // namespace velto

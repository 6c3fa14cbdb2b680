#include "support/PeerRecorder.h"

#include <sys/socket.h>

#include <stdexcept>
#include <utility>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"

namespace velto::test {

namespace {

constexpr std::uint32_t kLoopbackAddress = 0x7F000001;

void flatten(Recording& recording, const HJOSCPacket& packet, Recording::TimePoint arrived) {
    for (const HJOSCMessage& message : HJOSCBundle::messagesOf(packet)) {
        const std::string address(message.address().address());
        const auto& arguments = message.attachedObjects();
        if (arguments.size() == 1 && arguments[0].type() == 'f') {
            recording.values.push_back({address, arguments[0].floatValue(), arrived});
        } else if (address == "/monome/led" && message.typeTagString() == ",iii") {
            recording.lights.push_back({arguments[0].intValue(), arguments[1].intValue(),
                                        arguments[2].intValue(), arrived});
        } else {
            recording.otherAddresses.push_back(address);
        }
    }
}

}  // namespace

std::vector<Recording::Value> Recording::valuesFor(const std::string& address) const {
    std::vector<Value> found;
    for (const auto& value : values) {
        if (value.address == address) found.push_back(value);
    }
    return found;
}

PeerRecorder::PeerRecorder(std::uint16_t port, Keep keep) : keep_(keep) {
    int error = 0;
    socket_ = UdpSocket::open(error);
    if (!socket_.isValid() || socket_.bindAny(port) != 0) {
        throw std::runtime_error("peer: cannot bind UDP port " + std::to_string(port));
    }
    port_ = socket_.localPort();
    // A flood answered by velto arrives in bursts of 8 KB bundles: give the
    // socket room so that the peer, not velto, is never what loses them. The
    // forcing variant (Linux) needs privileges; the plain one is capped by
    // Linux, while macOS refuses a size above its kern.ipc.maxsockbuf: halve
    // until it is taken.
    const int bytes = 8 << 20;
#ifdef SO_RCVBUFFORCE
    if (::setsockopt(socket_.descriptor(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
#endif
    {
        for (int size = bytes; size >= (64 << 10); size /= 2) {
            if (::setsockopt(socket_.descriptor(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size) == 0)
                break;
        }
    }
    lastArrival_ = Recording::TimePoint::clock::now();
    receiver_ = std::make_unique<DatagramReceiver>(
        socket_, [this](ByteView datagram) { record(datagram); }, [](const std::string&) {});
}

PeerRecorder::~PeerRecorder() {
    receiver_.reset();  // the thread ends before the socket closes
    socket_.close();
}

void PeerRecorder::record(ByteView datagram) {
    const auto arrived = Recording::TimePoint::clock::now();
    std::shared_ptr<HJOSCPacket> packet;
    if (keep_ == Keep::everything) packet = HJOSCDecoder::decodeData(datagram);
    {
        const std::lock_guard lock(mutex_);
        ++recording_.datagrams;
        lastArrival_ = arrived;
        if (keep_ == Keep::everything) {
            if (packet) {
                flatten(recording_, *packet, arrived);
            } else {
                ++recording_.undecodable;
            }
        }
    }
    changed_.notify_all();
}

Recording PeerRecorder::snapshot() const {
    const std::lock_guard lock(mutex_);
    return recording_;
}

std::size_t PeerRecorder::datagramCount() const {
    const std::lock_guard lock(mutex_);
    return recording_.datagrams;
}

void PeerRecorder::clear() {
    const std::lock_guard lock(mutex_);
    recording_ = Recording{};
}

bool PeerRecorder::waitFor(const std::function<bool(const Recording&)>& predicate,
                           std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return predicate(recording_); });
}

bool PeerRecorder::waitForQuiet(std::chrono::milliseconds quiet,
                                std::chrono::milliseconds limit) const {
    const auto deadline = Recording::TimePoint::clock::now() + limit;
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto now = Recording::TimePoint::clock::now();
        const auto quietUntil = lastArrival_ + quiet;
        if (now >= quietUntil) return true;
        if (now >= deadline) return false;
        changed_.wait_until(lock, std::min(quietUntil, deadline));
    }
}

bool PeerRecorder::sendTo(std::uint16_t port, ByteView datagram) {
    return socket_.sendTo(datagram, Ipv4Endpoint{kLoopbackAddress, port}) == 0;
}

}  // namespace velto::test

#include "support/PeerRecorder.h"

#include <sys/socket.h>

#include <stdexcept>

#include "common/osc/HJOSCBundle.h"
#include "common/osc/HJOSCDecoder.h"
#include "common/osc/HJOSCMessage.h"
#include "common/osc/HJOSCPacket.h"

namespace velto::test {

using Clock = std::chrono::steady_clock;

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
    if (!socket_.isValid() || socket_.bindAny(port) != 0)
        throw std::runtime_error("peer: cannot bind UDP port " + std::to_string(port));
    port_ = socket_.localPort();
    // Room for a flood's answers, so that the peer is never what loses them.
    // Forcing the size needs privileges (Linux); macOS refuses a size above its
    // kern.ipc.maxsockbuf: halve until it is taken.
    const int fd = socket_.descriptor();
    int size = 8 << 20;
#ifdef SO_RCVBUFFORCE
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
#endif
        while (size >= (64 << 10) && ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size))
            size /= 2;
    lastArrival_ = Clock::now();
    receiver_ = std::make_unique<DatagramReceiver>(
        socket_, [this](ByteView datagram) { record(datagram); }, [](const std::string&) {});
}

PeerRecorder::~PeerRecorder() {
    receiver_.reset();  // the thread ends before the socket closes
    socket_.close();
}

void PeerRecorder::record(ByteView datagram) {
    const auto arrived = Clock::now();
    const auto packet = keep_ == Keep::everything ? HJOSCDecoder::decodeData(datagram) : nullptr;
    {
        const std::lock_guard lock(mutex_);
        lastArrival_ = arrived;
        for (const HJOSCMessage& message :
             packet ? HJOSCBundle::messagesOf(*packet) : std::span<const HJOSCMessage>{}) {
            const std::string address(message.address().address());
            const auto& arguments = message.attachedObjects();
            if (arguments.size() == 1 && arguments[0].type() == 'f') {
                recording_.values.push_back({address, arguments[0].floatValue(), arrived});
            } else {
                recording_.otherAddresses.push_back(address);
            }
        }
    }
    changed_.notify_all();
}

Recording PeerRecorder::snapshot() const {
    const std::lock_guard lock(mutex_);
    return recording_;
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
    const auto deadline = Clock::now() + limit;
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto now = Clock::now();
        if (now >= lastArrival_ + quiet) return true;
        if (now >= deadline) return false;
        changed_.wait_until(lock, std::min(lastArrival_ + quiet, deadline));
    }
}

}  // namespace velto::test

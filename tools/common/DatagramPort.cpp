#include "DatagramPort.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/osc/HJOSCPacket.h"
#include "platform/RunLoop.h"

namespace velto::tools {

// What the receive thread and the calls it posts share; `receive` is emptied
// on the main thread when the port ends, so a call still queued does nothing.
struct DatagramPort::HandOff {
    Receive receive;
    std::atomic<std::size_t> waiting{0};
};

std::unique_ptr<DatagramPort> DatagramPort::open(RunLoop& loop, std::int32_t port, Receive receive,
                                                 std::string& error) {
    std::unique_ptr<DatagramPort> result(new DatagramPort());
    int failure = 0;
    result->socket_ = UdpSocket::open(failure);
    if (failure == 0 && (port < 0 || port > 65535)) failure = EINVAL;
    if (failure == 0) failure = result->socket_.bindAny(static_cast<std::uint16_t>(port));
    if (failure != 0) {
        error = std::strerror(failure);
        return nullptr;
    }
    result->localPort_ = result->socket_.localPort();
    result->handOff_ = std::make_shared<HandOff>();
    result->handOff_->receive = std::move(receive);
    result->receiver_ = std::make_unique<DatagramReceiver>(
        result->socket_,
        DatagramReceiver::SourcedHandler(
            [handOff = result->handOff_, &loop](ByteView data, const Ipv4Endpoint& from) {
                // Only this thread adds to `waiting`: the bound holds.
                if (handOff->waiting.load() >= kMaxWaiting) return;
                handOff->waiting.fetch_add(1);
                loop.post([handOff, from, bytes = Bytes(data.begin(), data.end())] {
                    handOff->waiting.fetch_sub(1);
                    if (handOff->receive) handOff->receive(bytes, from);
                });
            }),
        nullptr);
    return result;
}

DatagramPort::~DatagramPort() {
    // The thread ends before the socket closes, so its number is never read
    // after another socket may have taken it.
    if (receiver_) receiver_->stop();
    receiver_.reset();
    if (handOff_) handOff_->receive = nullptr;
}

bool DatagramPort::send(const HJOSCPacket& packet, const Ipv4Endpoint& to) {
    const auto data = packet.packetizedData();
    return data && socket_.sendTo(*data, to) == 0;
}

}  // namespace velto::tools

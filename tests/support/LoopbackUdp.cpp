#include "support/LoopbackUdp.h"

#include <stdexcept>

#include "common/Bytes.h"
#include "platform/Udp.h"

namespace velto::test {

std::vector<std::uint16_t> freeLoopbackUdpPorts(std::size_t count) {
    std::vector<UdpSocket> sockets;
    std::vector<std::uint16_t> ports;
    for (std::size_t i = 0; i < count; ++i) {
        int error = 0;
        sockets.push_back(UdpSocket::open(error));
        if (!sockets.back().isValid() || sockets.back().bindAny(0) != 0)
            throw std::runtime_error("cannot bind a UDP socket");
        ports.push_back(sockets.back().localPort());
    }
    return ports;  // the sockets close here and the ports are free again
}

bool sendLoopbackDatagram(std::uint16_t port, std::string_view bytes) {
    int error = 0;
    UdpSocket socket = UdpSocket::open(error);
    const ByteView datagram(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return socket.isValid() && socket.sendTo(datagram, Ipv4Endpoint{0x7F000001, port}) == 0;
}

}  // namespace velto::test

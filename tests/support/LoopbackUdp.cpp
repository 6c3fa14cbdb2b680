#include "support/LoopbackUdp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace velto::test {

namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Closes the socket however the caller leaves.
class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    ~Socket() { ::close(fd_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::vector<std::uint16_t> freeLoopbackUdpPorts(std::size_t count) {
    std::vector<Socket> sockets;
    std::vector<std::uint16_t> ports;
    sockets.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        Socket& socket = sockets.emplace_back();
        sockaddr_in address = loopback(0);
        if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
        }
        socklen_t length = sizeof address;
        if (::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error(std::string("getsockname: ") + std::strerror(errno));
        }
        ports.push_back(ntohs(address.sin_port));
    }
    return ports;  // the sockets close here and the ports are free again
}

bool sendLoopbackDatagram(std::uint16_t port, std::string_view bytes) {
    Socket socket;
    const sockaddr_in address = loopback(port);
    const ssize_t sent = ::sendto(socket.fd(), bytes.data(), bytes.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return sent == static_cast<ssize_t>(bytes.size());
}

}  // namespace velto::test

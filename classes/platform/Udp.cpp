#include "platform/Udp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>
#include <vector>

namespace velto {

namespace {

sockaddr_in toSockaddr(std::uint32_t address, std::uint16_t port) {
    sockaddr_in result;
    std::memset(&result, 0, sizeof result);  // the padding bytes too
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

// The largest IPv4 datagram. Darwin refuses to send a datagram larger than
// the socket's send buffer, 9216 bytes by default (net.inet.udp.maxdgram):
// raise the buffer to this where it is smaller. Linux's is larger already.
// Where the system refuses, a larger datagram still fails to send.
constexpr int kLargestDatagram = 65535;

void raiseSendBuffer(int fd) {
    int size = 0;
    socklen_t length = sizeof size;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &length) == 0 && size >= kLargestDatagram)
        return;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kLargestDatagram, sizeof kLargestDatagram);
}

void closeDescriptor(int fd) {
    // Not retried on EINTR: on Linux the descriptor is gone whatever close says.
    if (fd >= 0) ::close(fd);
}

}  // namespace

std::optional<std::uint32_t> resolveIPv4(const std::string& host) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* results = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0) return std::nullopt;
    std::optional<std::uint32_t> address;
    for (const addrinfo* entry = results; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            sockaddr_in found;
            std::memcpy(&found, entry->ai_addr, sizeof found);
            address = ntohl(found.sin_addr.s_addr);
            break;
        }
    }
    ::freeaddrinfo(results);
    return address;
}

UdpSocket::~UdpSocket() { close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

UdpSocket UdpSocket::open(int& errorOut) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        errorOut = errno;
        return UdpSocket();
    }
    ::fcntl(fd, F_SETFD,
            ::fcntl(fd, F_GETFD) | FD_CLOEXEC);  // a descriptor flag, not a socket option
    raiseSendBuffer(fd);
    errorOut = 0;
    return UdpSocket(fd);
}

int UdpSocket::bindAny(std::uint16_t port) {
    const sockaddr_in local = toSockaddr(INADDR_ANY, port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return errno;
    return 0;
}

std::uint16_t UdpSocket::localPort() const {
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    socklen_t length = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    if (local.sin_family != AF_INET) return 0;
    return ntohs(local.sin_port);
}

int UdpSocket::sendTo(ByteView datagram, const Ipv4Endpoint& to) {
    const sockaddr_in destination = toSockaddr(to.address, to.port);
    const ssize_t sent =
        ::sendto(fd_, datagram.data(), datagram.size(), 0,
                 reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    return sent < 0 ? errno : 0;
}

void UdpSocket::close() {
    closeDescriptor(fd_);
    fd_ = -1;
}

// The thread waits in poll on the socket and a wake-up pipe rather than in
// recvfrom: closing a socket does not wake a blocked recvfrom on Linux, and
// shutdown would make it return 0, which looks like an empty datagram.
struct DatagramReceiver::Impl {
    int socketFd = -1;  // borrowed: the socket's owner closes it after stop()
    int wakeFds[2] = {-1, -1};
    SourcedHandler handler;
    ErrorHandler onError;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    std::thread thread;

    ~Impl() {
        closeDescriptor(wakeFds[0]);
        closeDescriptor(wakeFds[1]);
    }

    // One buffer for every datagram, made before the thread starts; the
    // handler sees a view into it.
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kMaxDatagramSize);

    void receiveLoop() {
        pollfd fds[2] = {{socketFd, POLLIN, 0}, {wakeFds[0], POLLIN, 0}};
        while (!stopping.load()) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (stopping.load() || fds[1].revents != 0) break;
            if (fds[0].revents == 0) continue;
            // recvfrom cuts a longer datagram to the buffer's size; the rest is lost.
            sockaddr_in from;
            socklen_t fromLength = sizeof from;
            const ssize_t got = ::recvfrom(socketFd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
                break;  // the socket is unusable: the thread ends without a word
            }
            if (stopping.load()) break;
            try {
                handler(ByteView(buffer.data(), static_cast<std::size_t>(got)),
                        Ipv4Endpoint{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)});
            } catch (const std::exception& error) {
                // One datagram lost (say, to a failed allocation); the port stays served.
                try {
                    if (onError) onError(error.what());
                } catch (...) {
                }
            }
        }
        running.store(false);
    }
};

DatagramReceiver::DatagramReceiver(const UdpSocket& socket, Handler handler, ErrorHandler onError)
    : DatagramReceiver(socket,
                       SourcedHandler([handler = std::move(handler)](
                                          ByteView data, const Ipv4Endpoint&) { handler(data); }),
                       std::move(onError)) {}

DatagramReceiver::DatagramReceiver(const UdpSocket& socket, SourcedHandler handler,
                                   ErrorHandler onError)
    : impl_(std::make_unique<Impl>()) {
    impl_->socketFd = socket.descriptor();
    impl_->handler = std::move(handler);
    impl_->onError = std::move(onError);
    if (!socket.isValid()) return;  // receives nothing
    if (::pipe(impl_->wakeFds) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    for (const int fd : impl_->wakeFds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    }
    impl_->running.store(true);
    try {
        impl_->thread = std::thread([impl = impl_.get()] { impl->receiveLoop(); });
    } catch (const std::system_error& error) {
        impl_->running.store(false);
        throw std::system_error(error.code(), "thread");
    }
}

DatagramReceiver::~DatagramReceiver() { stop(); }

void DatagramReceiver::stop() {
    if (!impl_->thread.joinable()) return;
    impl_->stopping.store(true);
    const unsigned char wake = 1;
    while (::write(impl_->wakeFds[1], &wake, 1) < 0 && errno == EINTR) {
    }
    impl_->thread.join();
}

bool DatagramReceiver::isRunning() const { return impl_->running.load(); }

}  // namespace velto

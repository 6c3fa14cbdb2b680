#include "platform/RandomBytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace velto {

// /dev/urandom is there on Linux and macOS alike, and never blocks once the
// system has booted.
std::optional<Bytes> randomBytes(std::size_t count) {
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    Bytes bytes(count);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, bytes.data() + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    ::close(fd);
    if (got < count) return std::nullopt;
    return bytes;
}

}  // namespace velto

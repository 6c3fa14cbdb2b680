#include "platform/Terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace velto {

bool ControllingTerminal::isPresent() {
    const int savedErrno = errno;
    int fd = -1;
    do {
        fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) ::close(fd);
    errno = savedErrno;
    return fd >= 0;
}

}  // namespace velto

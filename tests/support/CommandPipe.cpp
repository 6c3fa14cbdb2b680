#include "support/CommandPipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

#include "platform/WriteAll.h"

namespace velto::test {

CommandPipe::CommandPipe(std::filesystem::path path) : path_(std::move(path)) {
    if (::mkfifo(path_.c_str(), 0600) != 0 ||
        (reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0 ||
        (writer_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC)) < 0) {
        if (reader_ >= 0) ::close(reader_);
        throw std::runtime_error("cannot make the pipe " + path_.string());
    }
}

CommandPipe::~CommandPipe() {
    ::close(writer_);
    ::close(reader_);
}

bool CommandPipe::send(const std::string& command) const {
    return writeAll(writer_, command + "\n");
}

std::vector<std::string> withInputFrom(const std::filesystem::path& input,
                                       std::vector<std::string> argv) {
    std::vector<std::string> shell{"/bin/sh", "-c", "input=$1; shift; exec \"$@\" < \"$input\"",
                                   "sh", input.string()};
    shell.insert(shell.end(), argv.begin(), argv.end());
    return shell;
}

}  // namespace velto::test

#pragma once

// Commands for a child's standard input in end-to-end tests: a named pipe that
// the test writes lines to, and the command line that starts a program with
// that pipe (or any file) as its standard input.

#include <filesystem>
#include <string>
#include <vector>

namespace velto::test {

// The pipe is made at `path`. The test holds a reader of its own as well, so
// that writing never raises SIGPIPE and the writer opens without waiting for
// the child. Throws std::runtime_error when the pipe can't be made.
class CommandPipe {
public:
    explicit CommandPipe(std::filesystem::path path);
    ~CommandPipe();
    CommandPipe(const CommandPipe&) = delete;
    CommandPipe& operator=(const CommandPipe&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes the command and a newline; true when all of it was written.
    bool send(const std::string& command) const;

private:
    std::filesystem::path path_;
    int reader_ = -1;
    int writer_ = -1;
};

// argv run through /bin/sh with its standard input from `input`; the shell
// execs the program, so that the child's pid is the program's own.
std::vector<std::string> withInputFrom(const std::filesystem::path& input,
                                       std::vector<std::string> argv);

}  // namespace velto::test

#pragma once

// A program run by a whole-process test, standard input from /dev/null. Two
// threads read its standard output and standard error line by line, so that
// it never blocks on a full pipe. Waits are bounded and wake on every new line;
// none sleeps for a fixed time. A child still running at destruction is killed
// and reaped.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velto::test {

struct ExitStatus {
    bool exited = false;  // ended through exit() or a return from main
    int code = -1;        // the exit code, when exited
    int signal = 0;       // the signal that ended it, when not exited

    static ExitStatus exitedWith(int code) { return {true, code, 0}; }
    bool operator==(const ExitStatus&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ExitStatus& status);

class ChildProcess {
public:
    enum class Stream { out, err };
    struct Line {
        Stream stream;
        std::string text;  // without the newline
    };

    // Starts argv[0] (searched in PATH when it has no slash). Throws
    // std::runtime_error when the program cannot be started.
    explicit ChildProcess(std::vector<std::string> argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::size_t lineCount() const {
        const std::lock_guard lock(mutex_);
        return lines_.size();
    }
    std::string transcript() const;  // both streams, for failure messages

    // Waits until the predicate holds for the lines of both streams so far (in
    // the order they arrived; an unfinished last line counts once its stream
    // has ended) or the limit passes; returns whether it held. The predicate
    // runs with the lines locked.
    bool waitForLines(const std::function<bool(const std::vector<Line>&)>& predicate,
                      std::chrono::milliseconds limit) const;
    // Waits for a line of either stream that contains the fragment.
    bool waitForOutput(std::string_view fragment, std::chrono::milliseconds limit) const;

    // Sends the signal unless the child has been reaped; true when sent.
    bool sendSignal(int signal);
    // The child's status once it ended, or none if it still runs at the limit.
    std::optional<ExitStatus> waitForExit(std::chrono::milliseconds limit);

    // Runs a program to its end within the limit (else kills it: none), with
    // its standard output and standard error, when asked for.
    static std::optional<ExitStatus> run(std::vector<std::string> argv,
                                         std::chrono::milliseconds limit,
                                         std::string* output = nullptr,
                                         std::string* errors = nullptr);

private:
    void read(int fd, Stream stream);
    std::string text(Stream stream) const;

    pid_t pid_ = -1;
    std::optional<ExitStatus> status_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Line> lines_;
    std::thread readers_[2];
};

}  // namespace velto::test

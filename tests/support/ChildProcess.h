#pragma once

// A program run by an end-to-end test: started with its arguments, its standard
// output and standard error read line by line by a background thread (so that
// the child never blocks on a full pipe), each line stamped with the moment it
// arrived. Waits are bounded by a time limit and wake on every new line; none
// of them sleeps for a fixed time. A child still running when its object is
// destroyed is killed and reaped.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
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
    static ExitStatus killedBy(int signal) { return {false, -1, signal}; }
    bool operator==(const ExitStatus&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ExitStatus& status);

class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;
    enum class Stream { out, err };

    struct Line {
        Stream stream;
        std::string text;  // without the newline
        Clock::time_point arrived;
    };

    // Starts argv[0] (searched in PATH when it has no slash) with the rest as
    // its arguments, standard input from /dev/null. Throws std::runtime_error
    // when the program cannot be started.
    explicit ChildProcess(std::vector<std::string> argv);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Complete lines of both streams so far, in the order in which they arrived.
    std::vector<Line> lines() const;
    // Everything read from one stream so far, an unfinished last line included.
    std::string text(Stream stream) const;
    // Both streams, for failure messages.
    std::string transcript() const;

    // Waits until the predicate holds for the lines so far, or the time limit
    // passes; returns whether it held. The predicate runs with the lines
    // locked: it must not call back into this object.
    bool waitForLines(const std::function<bool(const std::vector<Line>&)>& predicate,
                      std::chrono::milliseconds limit) const;
    // Waits for a line of either stream that contains the fragment.
    bool waitForOutput(std::string_view fragment, std::chrono::milliseconds limit) const;

    // Sends the signal unless the child has already been reaped; true when sent.
    bool sendSignal(int signal);
    // Waits for the child to end, within the limit; its status, or none if it
    // is still running at the limit. Once reaped, the status is kept.
    std::optional<ExitStatus> waitForExit(std::chrono::milliseconds limit);

    // Runs a program to its end within the limit and returns its exit status,
    // or none when it had to be killed at the limit. `output` receives the
    // child's standard output and `errors` its standard error, when given.
    static std::optional<ExitStatus> run(std::vector<std::string> argv,
                                         std::chrono::milliseconds limit,
                                         std::string* output = nullptr,
                                         std::string* errors = nullptr);

    // The full path of a program found in PATH, or none.
    static std::optional<std::string> findProgram(std::string_view name);

private:
    void readOutput();
    void append(Stream stream, const char* data, std::size_t size);
    void finishPartialLines();

    pid_t pid_ = -1;
    std::optional<ExitStatus> status_;
    int outFd_ = -1;
    int errFd_ = -1;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Line> lines_;
    std::string outText_;
    std::string errText_;
    std::string outPartial_;
    std::string errPartial_;
    bool readerDone_ = false;

    std::thread reader_;
};

}  // namespace velto::test

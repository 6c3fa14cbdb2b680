#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace velto::test {

namespace {

using namespace std::chrono_literals;

std::runtime_error systemFailure(const std::string& what, int errnum) {
    return std::runtime_error(what + ": " + std::strerror(errnum));
}

// Both ends close on exec, so that a pipe of one child never leaks into a
// later child and keeps the first one's reader from seeing the end.
std::array<int, 2> makePipe() {
    std::array<int, 2> fds{-1, -1};
#ifdef __linux__
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) throw systemFailure("pipe2", errno);
#else
    if (::pipe(fds.data()) != 0) throw systemFailure("pipe", errno);
    for (const int fd : fds) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#endif
    return fds;
}

void closeIfOpen(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

ExitStatus decodeStatus(int status) {
    if (WIFEXITED(status)) return ExitStatus::exitedWith(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return ExitStatus::killedBy(WTERMSIG(status));
    return ExitStatus{};
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const ExitStatus& status) {
    if (status.exited) return out << "exit code " << status.code;
    if (status.signal != 0)
        return out << "signal " << status.signal << " (" << ::strsignal(status.signal) << ")";
    return out << "unknown end";
}

ChildProcess::ChildProcess(std::vector<std::string> argv) {
    if (argv.empty()) throw std::invalid_argument("ChildProcess needs a program");

    auto outPipe = makePipe();
    auto errPipe = makePipe();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);

    // The child starts with default signal handling and nothing blocked,
    // whatever the test runner has set up for itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (auto& argument : argv) arguments.push_back(argument.data());
    arguments.push_back(nullptr);

    const int result =
        ::posix_spawnp(&pid_, arguments[0], &actions, &attributes, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (result != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        throw systemFailure("cannot start " + argv[0], result);
    }
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    reader_ = std::thread([this] { readOutput(); });
}

ChildProcess::~ChildProcess() {
    if (!status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (reader_.joinable()) reader_.join();
    closeIfOpen(outFd_);
    closeIfOpen(errFd_);
}

void ChildProcess::readOutput() {
    std::array<char, 4096> buffer{};
    bool outOpen = true;
    bool errOpen = true;
    while (outOpen || errOpen) {
        std::array<pollfd, 2> fds{pollfd{outOpen ? outFd_ : -1, POLLIN, 0},
                                  pollfd{errOpen ? errFd_ : -1, POLLIN, 0}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t count = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (count > 0) {
                append(i == 0 ? Stream::out : Stream::err, buffer.data(),
                       static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                (i == 0 ? outOpen : errOpen) = false;
            }
        }
    }
    finishPartialLines();
}

void ChildProcess::append(Stream stream, const char* data, std::size_t size) {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    std::string& partial = stream == Stream::out ? outPartial_ : errPartial_;
    (stream == Stream::out ? outText_ : errText_).append(data, size);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            lines_.push_back({stream, std::move(partial), now});
            partial.clear();
        } else {
            partial.push_back(data[i]);
        }
    }
    changed_.notify_all();
}

void ChildProcess::finishPartialLines() {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    if (!outPartial_.empty()) lines_.push_back({Stream::out, std::exchange(outPartial_, {}), now});
    if (!errPartial_.empty()) lines_.push_back({Stream::err, std::exchange(errPartial_, {}), now});
    readerDone_ = true;
    changed_.notify_all();
}

std::vector<ChildProcess::Line> ChildProcess::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string ChildProcess::text(Stream stream) const {
    std::lock_guard lock(mutex_);
    return stream == Stream::out ? outText_ : errText_;
}

std::string ChildProcess::transcript() const {
    std::lock_guard lock(mutex_);
    return "--- standard output ---\n" + outText_ + "--- standard error ---\n" + errText_;
}

bool ChildProcess::waitForLines(const std::function<bool(const std::vector<Line>&)>& predicate,
                                std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return predicate(lines_); });
}

bool ChildProcess::waitForOutput(std::string_view fragment, std::chrono::milliseconds limit) const {
    return waitForLines(
        [&](const std::vector<Line>& lines) {
            for (const auto& line : lines) {
                if (line.text.find(fragment) != std::string::npos) return true;
            }
            return false;
        },
        limit);
}

bool ChildProcess::sendSignal(int signal) {
    if (status_) return false;
    return ::kill(pid_, signal) == 0;
}

std::optional<ExitStatus> ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    if (status_) return status_;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
        if (reaped == pid_) {
            status_ = decodeStatus(status);
            return status_;
        }
        if (reaped < 0 && errno != EINTR) throw systemFailure("waitpid", errno);
        if (Clock::now() >= deadline) return std::nullopt;
        // The child's end closes its pipes, which wakes this wait early; the
        // short bound covers a child that ends after its pipes were closed.
        std::unique_lock lock(mutex_);
        if (readerDone_) {
            lock.unlock();
            std::this_thread::sleep_for(1ms);
        } else {
            changed_.wait_for(lock, 2ms);
        }
    }
}

std::optional<ExitStatus> ChildProcess::run(std::vector<std::string> argv,
                                            std::chrono::milliseconds limit, std::string* output,
                                            std::string* errors) {
    ChildProcess child(std::move(argv));
    auto status = child.waitForExit(limit);
    if (!status) {
        child.sendSignal(SIGKILL);
        child.waitForExit(1000ms);
    }
    if (child.reader_.joinable()) child.reader_.join();
    if (output) *output = child.text(Stream::out);
    if (errors) *errors = child.text(Stream::err);
    return status;
}

std::optional<std::string> ChildProcess::findProgram(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::string_view directories = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!directories.empty()) {
        const auto colon = directories.find(':');
        std::string directory(directories.substr(0, colon));
        directories =
            colon == std::string_view::npos ? std::string_view{} : directories.substr(colon + 1);
        if (directory.empty()) directory = ".";
        std::string candidate = directory + "/" + std::string(name);
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

}  // namespace velto::test

#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace velto::test {

using namespace std::chrono_literals;

std::ostream& operator<<(std::ostream& out, const ExitStatus& status) {
    if (status.exited) return out << "exit code " << status.code;
    return out << "signal " << status.signal << " (" << ::strsignal(status.signal) << ")";
}

ChildProcess::ChildProcess(std::vector<std::string> argv) {
    // Both ends close on exec, so that no other child holds them open.
    int pipes[2][2];
    for (auto& ends : pipes) {
        if (::pipe(ends) != 0) throw std::runtime_error(std::strerror(errno));
        for (const int fd : ends) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipes[0][1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipes[1][1], STDERR_FILENO);
    // Default signal handling and nothing blocked, whatever the runner set up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD})
        sigaddset(&signals, signal);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> arguments;
    for (auto& argument : argv) arguments.push_back(argument.data());
    arguments.push_back(nullptr);
    const int result =
        ::posix_spawnp(&pid_, arguments[0], &actions, &attributes, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (auto& ends : pipes) {
        ::close(ends[1]);
        if (result != 0) ::close(ends[0]);
    }
    if (result != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(result));
    readers_[0] = std::thread([this, fd = pipes[0][0]] { read(fd, Stream::out); });
    readers_[1] = std::thread([this, fd = pipes[1][0]] { read(fd, Stream::err); });
}

ChildProcess::~ChildProcess() {
    if (!status_ && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    for (auto& reader : readers_)
        if (reader.joinable()) reader.join();
}

void ChildProcess::read(int fd, Stream stream) {
    char buffer[4096];
    std::string partial;
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        const std::lock_guard lock(mutex_);
        for (ssize_t i = 0; i < count; ++i) {
            if (buffer[i] == '\n')
                lines_.push_back({stream, std::exchange(partial, {})});
            else
                partial.push_back(buffer[i]);
        }
        if (count <= 0 && !partial.empty()) lines_.push_back({stream, partial});
        changed_.notify_all();
        if (count <= 0) break;
    }
    ::close(fd);
}

std::string ChildProcess::text(Stream stream) const {
    const std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& line : lines_) {
        if (line.stream == stream) text += line.text + "\n";
    }
    return text;
}

std::string ChildProcess::transcript() const {
    return "--- standard output ---\n" + text(Stream::out) + "--- standard error ---\n" +
           text(Stream::err);
}

bool ChildProcess::waitForLines(const std::function<bool(const std::vector<Line>&)>& predicate,
                                std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return predicate(lines_); });
}

bool ChildProcess::waitForOutput(std::string_view fragment, std::chrono::milliseconds limit) const {
    return waitForLines(
        [&](const std::vector<Line>& lines) {
            return std::any_of(lines.begin(), lines.end(), [&](const Line& line) {
                return line.text.find(fragment) != std::string::npos;
            });
        },
        limit);
}

bool ChildProcess::sendSignal(int signal) { return !status_ && ::kill(pid_, signal) == 0; }

std::optional<ExitStatus> ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    std::unique_lock lock(mutex_);
    while (!status_ && ::waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        changed_.wait_for(lock, 2ms);  // the child's end closes its pipes, which wakes this early
    }
    if (!status_)
        status_ = WIFEXITED(status) ? ExitStatus::exitedWith(WEXITSTATUS(status))
                                    : ExitStatus{false, -1, WTERMSIG(status)};
    return status_;
}

std::optional<ExitStatus> ChildProcess::run(std::vector<std::string> argv,
                                            std::chrono::milliseconds limit, std::string* output,
                                            std::string* errors) {
    ChildProcess child(std::move(argv));
    const auto status = child.waitForExit(limit);
    if (!status && child.sendSignal(SIGKILL)) child.waitForExit(1000ms);
    for (auto& reader : child.readers_) reader.join();
    if (output) *output = child.text(Stream::out);
    if (errors) *errors = child.text(Stream::err);
    return status;
}

}  // namespace velto::test

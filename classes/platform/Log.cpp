#include "platform/Log.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace velto {

namespace {

// One lock for every line, so that lines from different threads never mix,
// whether they go to standard error or to a capture.
struct LogState {
    std::mutex mutex;
    bool capturing = false;
    std::vector<std::string> captured;
    std::uint64_t droppedLines = 0;  // not yet reported
};

// Set once at start-up, read by the receive threads too.
std::atomic<bool> gVerbose{false};

LogState& state() {
    static LogState instance;
    return instance;
}

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer);
// overloads pick whichever the C library offers.
[[maybe_unused]] const char* errorText(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* errorText(const char* result, const char*) { return result; }

std::string describeError(int errnum) {
    char buffer[256] = {};
    const char* text = errorText(strerror_r(errnum, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0') return "Unknown error: " + std::to_string(errnum);
    return text;
}

// Writes only while the descriptor takes it at once, in pieces of at most
// PIPE_BUF, which a pipe or terminal that polls writable takes without
// waiting. False when the text (or its rest) could not be written.
bool writeWithoutWaiting(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        pollfd query{fd, POLLOUT, 0};
        const int ready = ::poll(&query, 1, 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || (query.revents & POLLOUT) == 0) return false;
        const ssize_t written = ::write(fd, data, std::min<std::size_t>(left, PIPE_BUF));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;  // nowhere else to complain
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// Local time, as NSLog prints it: "2026-12-06 09:03:13.123".
std::string timeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis.count() < 0 ? millis.count() + 1000 : millis.count()));
    return text;
}

// prefix is what stands before the text on standard error only.
void emit(const std::string& prefix, std::string text) {
    LogState& log = state();
    std::lock_guard lock(log.mutex);
    if (log.capturing) {
        log.captured.push_back(std::move(text));
        return;
    }
    if (log.droppedLines > 0) {
        const std::string notice = timeStamp() + " velto[" + std::to_string(::getpid()) +
                                   "] dropped " + std::to_string(log.droppedLines) +
                                   " log lines: the log's reader was not ready\n";
        if (!writeWithoutWaiting(STDERR_FILENO, notice)) {
            ++log.droppedLines;
            return;
        }
        log.droppedLines = 0;
    }
    if (!writeWithoutWaiting(STDERR_FILENO, prefix + text + '\n')) ++log.droppedLines;
}

}  // namespace

std::string escapeText(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\\':
                escaped += "\\\\";
                break;
            default:
                if (byte < 0x20 || byte > 0x7E) {
                    escaped += "\\x";
                    escaped += kDigits[byte >> 4];
                    escaped += kDigits[byte & 0x0F];
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

void Log::message(std::string_view text) {
    const int savedErrno = errno;  // callers may still want to read it
    emit(timeStamp() + " velto[" + std::to_string(::getpid()) + "] ", std::string(text));
    errno = savedErrno;
}

std::string Log::systemError(std::string_view what, int errnum) {
    const int savedErrno = errno;
    std::string line = std::string(what) + ": " + describeError(errnum);
    emit({}, line);
    errno = savedErrno;
    return line;
}

void Log::surviveClosedReader() { std::signal(SIGPIPE, SIG_IGN); }

void Log::setVerbose(bool verbose) { gVerbose.store(verbose, std::memory_order_relaxed); }

bool Log::isVerbose() { return gVerbose.load(std::memory_order_relaxed); }

Log::Capture::Capture() {
    LogState& log = state();
    std::lock_guard lock(log.mutex);
    log.capturing = true;
    log.captured.clear();
}

Log::Capture::~Capture() {
    LogState& log = state();
    std::lock_guard lock(log.mutex);
    log.capturing = false;
    log.captured.clear();
}

std::vector<std::string> Log::Capture::lines() const {
    LogState& log = state();
    std::lock_guard lock(log.mutex);
    return log.captured;
}

bool Log::Capture::contains(std::string_view fragment) const {
    LogState& log = state();
    std::lock_guard lock(log.mutex);
    for (const std::string& line : log.captured) {
        if (line.find(fragment) != std::string::npos) return true;
    }
    return false;
}

}  // namespace velto

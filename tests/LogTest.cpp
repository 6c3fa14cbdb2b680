#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Log.h"

namespace velto {
namespace {

// The lines written to standard error by call().
template <class Call>
std::vector<std::string> standardErrorOf(Call call) {
    ::testing::internal::CaptureStderr();
    call();
    std::istringstream in(::testing::internal::GetCapturedStderr());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::regex stampedLine(const std::string& text) {
    return std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} velto\[)" +
                      std::to_string(getpid()) + R"(\] )" + text);
}

TEST(Log, CaptureTakesTheTextWithoutTimeStampAndErrnoIsLeftAsItWas) {
    Log::Capture capture;
    errno = EADDRINUSE;
    Log::message("hello there");
    Log::systemError("bind", EADDRINUSE);
    EXPECT_EQ(errno, EADDRINUSE) << "callers log before they look at errno again";
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"hello there", "bind: Address already in use"}));
    EXPECT_TRUE(capture.contains("there"));
    EXPECT_FALSE(capture.contains("socket"));
}

TEST(Log, StandardErrorGetsStampedMessagesAndPerrorStyleErrors) {
    const auto lines = standardErrorOf([] {
        Log::message("Listening on 5001");
        Log::systemError("socket", EMFILE);
    });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], stampedLine("Listening on 5001"))) << lines[0];
    EXPECT_EQ(lines[1], "socket: Too many open files");
}

TEST(Log, LinesFromSeveralThreadsNeverInterleave) {
    constexpr int kThreads = 4, kLinesEach = 200;
    const std::string filler(300, 'x');
    const auto lines = standardErrorOf([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kLinesEach; ++i) Log::message(std::to_string(t) + filler);
            });
        }
        for (std::thread& thread : threads) thread.join();
    });
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
    const std::regex whole = stampedLine("[0-3]" + filler);
    for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

TEST(Log, EscapedTextIsOneLineOfPlainCharacters) {
    EXPECT_EQ(escapeText("/monome/press"), "/monome/press");
    EXPECT_EQ(escapeText(std::string("a\nb\r\t\\\x00\x1b[2J\x7f\x80\xff~ ", 16)),
              "a\\nb\\r\\t\\\\\\x00\\x1b[2J\\x7f\\x80\\xff~ ");
}

TEST(Log, LinesThatTheReaderCannotTakeAtOnceAreDroppedCountedAndReportedNotWaitedFor) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
    const int savedStandardError = ::dup(STDERR_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    const std::string filler(1000, 'x');
    for (int i = 0; i < 100; ++i)
        Log::message(filler);  // more than a pipe holds: a waiting write never returns
    std::string text;
    const auto drain = [&] {
        char buffer[4096];
        for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(got));
    };
    drain();
    const auto written = static_cast<std::size_t>(std::count(text.begin(), text.end(), 'x')) / 1000;
    Log::message("after");
    drain();
    ::dup2(savedStandardError, STDERR_FILENO);
    for (const int fd : {savedStandardError, fds[0], fds[1]}) ::close(fd);
    EXPECT_LT(written, 100U);
    EXPECT_NE(text.find("] dropped " + std::to_string(100 - written) +
                        " log lines: the log's reader was not ready\n"),
              std::string::npos);
    EXPECT_TRUE(text.ends_with("] after\n")) << text.substr(text.size() - 200);
}

}  // namespace
}  // namespace velto

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

TEST(Log, CaptureTakesTheTextWithoutTimeStampAndErrnoIsLeftAsItWas) {
    Log::Capture capture;
    errno = EADDRINUSE;
    Log::message("hello there");
    Log::systemError("bind", EADDRINUSE);
    EXPECT_EQ(errno, EADDRINUSE) << "callers log before they look at errno again";
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"hello there", "bind: Address already in use"}));
}

// Whole stamped lines, never interleaved across threads, and perror-style errors.
TEST(Log, StandardErrorGetsWholeStampedLinesFromEveryThread) {
    const std::string filler(300, 'x');
    ::testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) Log::message(std::to_string(t) + filler);
        });
    }
    for (std::thread& thread : threads) thread.join();
    Log::systemError("socket", EMFILE);
    std::istringstream text(::testing::internal::GetCapturedStderr());
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} velto\[)" +
                             std::to_string(getpid()) + R"(\] [0-3]x{300})");
    std::string line;
    for (int i = 0; i < 800 && std::getline(text, line); ++i)
        ASSERT_TRUE(std::regex_match(line, stamped)) << line;
    EXPECT_TRUE(std::getline(text, line) && line == "socket: Too many open files") << line;
}

TEST(Log, LinesThatTheReaderCannotTakeAtOnceAreDroppedCountedAndReportedNotWaitedFor) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
    const int savedStandardError = ::dup(STDERR_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    // More than a pipe holds: a waiting write would never return.
    for (int i = 0; i < 100; ++i) Log::message(std::string(1000, 'x'));
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
    EXPECT_TRUE(text.ends_with("] after\n"));
}

}  // namespace
}  // namespace velto

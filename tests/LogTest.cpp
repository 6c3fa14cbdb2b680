#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <string>

#include "platform/Log.h"

namespace velto {
namespace {

// Stamped messages and perror-style errors, written without touching errno.
TEST(Log, StandardErrorGetsStampedLinesAndErrnoIsLeftAsItWas) {
    ::testing::internal::CaptureStderr();
    errno = EADDRINUSE;
    Log::message("hello");
    Log::systemError("bind", EADDRINUSE);
    EXPECT_EQ(errno, EADDRINUSE) << "callers log before they look at errno again";
    const std::regex lines(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} velto\[)" +
                           std::to_string(getpid()) +
                           R"(\] hello\nbind: Address already in use\n)");
    EXPECT_TRUE(std::regex_match(::testing::internal::GetCapturedStderr(), lines));
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
    EXPECT_NE(text.find("] dropped " + std::to_string(100 - written) +
                        " log lines: the log's reader was not ready\n"),
              std::string::npos);
    EXPECT_TRUE(text.ends_with("] after\n"));
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
}  // namespace velto

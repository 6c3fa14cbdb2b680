#include "platform/Log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velto {
namespace {

// Sends standard error into a temporary file for as long as it lives.
class StandardErrorToFile {
public:
    StandardErrorToFile() {
        char name[] = "/tmp/velto-log-XXXXXX";
        const int fd = mkstemp(name);
        path_ = name;
        saved_ = dup(STDERR_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~StandardErrorToFile() {
        restore();
        unlink(path_.c_str());
    }
    std::vector<std::string> lines() {
        restore();
        std::ifstream in(path_);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

std::regex stampedLine(const std::string& text) {
    return std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} velto\[)" + std::to_string(getpid()) +
                      R"(\] )" + text);
}

TEST(Log, CaptureTakesTheTextWithoutItsTimeStamp) {
    Log::Capture capture;
    Log::message("hello there");
    Log::systemError("bind", EADDRINUSE);
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"hello there", "bind: Address already in use"}));
    EXPECT_TRUE(capture.contains("there"));
    EXPECT_FALSE(capture.contains("socket"));
}

TEST(Log, LoggingLeavesErrnoAsItWas) {
    Log::Capture capture;
    errno = EADDRINUSE;
    Log::message("x");
    Log::systemError("socket", EMFILE);
    EXPECT_EQ(errno, EADDRINUSE);
}

TEST(Log, MessageOnStandardErrorCarriesTimeStampAndProcess) {
    StandardErrorToFile err;
    Log::message("Listening on 5001");
    const auto lines = err.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], stampedLine("Listening on 5001"))) << lines[0];
}

TEST(Log, SystemErrorOnStandardErrorReadsLikePerror) {
    StandardErrorToFile err;
    Log::systemError("socket", EMFILE);
    EXPECT_EQ(err.lines(), std::vector<std::string>{"socket: Too many open files"});
}

TEST(Log, LinesFromSeveralThreadsNeverInterleave) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    const std::string filler(300, 'x');
    StandardErrorToFile err;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLinesEach; ++i) Log::message(std::to_string(t) + filler);
        });
    }
    for (std::thread& thread : threads) thread.join();
    const auto lines = err.lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesEach));
    const std::regex whole = stampedLine("[0-3]" + filler);
    for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

}  // namespace
}  // namespace velto
